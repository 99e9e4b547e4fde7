#include "platform/qt/application_setup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QSettings>
#include <QTranslator>

namespace platform
{

void keepNoSettings()
{
    // Qt's file dialog keeps its history and view in a settings file of its
    // own; this program writes nothing but the pictures asked for, so that
    // file goes where nothing can be written.
    static const bool once = [] {
        for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope,
                               QStringLiteral("/dev/null/mipoquibbo-writes-no-settings"));
        return true;
    }();
    (void)once;
}

bool installJapaneseQtTexts()
{
    // Qt's own dialogs (the file dialog above all) speak the interface's language.
    static QTranslator qtbase;
    static const bool loaded = qtbase.load(QStringLiteral("qtbase_ja"),
                                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                               QCoreApplication::installTranslator(&qtbase);
    return loaded;
}

} // namespace platform
