#include "platform/qt/file_chooser.h"

#include "platform/qt/application_setup.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace platform
{

namespace
{
// The detail view's size, kind and date are longer in Japanese than Qt's
// columns: each is as wide as what it shows once the folder is read, and the
// dialog is wide enough for them beside the names.
void fitColumns(QFileDialog &dialog)
{
    auto *tree = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *model = dialog.findChild<QFileSystemModel *>();
    if (!tree || !model)
        return;
    const QFontMetrics fm(tree->font());
    const QDateTime late(QDate(2026, 12, 28), QTime(23, 59));
    const int columns = fm.horizontalAdvance(QLocale().formattedDataSize(1023 * 1024 + 900)) +
                        fm.horizontalAdvance(QStringLiteral("フォルダー JPEG 画像")) +
                        fm.horizontalAdvance(QLocale().toString(late, QLocale::ShortFormat)) +
                        fm.horizontalAdvance(u'M') * 6;
    const int names = fm.horizontalAdvance(u'x') * 40;
    dialog.resize(std::max(dialog.sizeHint().width(), columns + names + 220),
                  std::max(dialog.sizeHint().height(), fm.height() * 26));
    QObject::connect(model, &QFileSystemModel::directoryLoaded, tree, [tree] {
        for (int column = 1; column < 4; ++column)
            tree->resizeColumnToContents(column);
    });
}
} // namespace

std::optional<QString> QtFileChooser::choose(const Request &request)
{
    keepNoSettings();
    QFileDialog dialog;
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite |
                      QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt reads an entry's patterns from its last parentheses and, with the
    // details hidden, shows what comes before them: the description as given.
    QStringList filters;
    for (qsizetype i = 0; i < request.descriptions.size(); ++i)
        filters << request.descriptions[i] + QStringLiteral(" (") +
                       request.patterns.value(i).join(u' ') + u')';
    dialog.setNameFilters(filters);
    if (request.selected >= 0 && request.selected < filters.size())
        dialog.selectNameFilter(filters[request.selected]);
    if (!request.startPath.isEmpty()) {
        const QFileInfo start(request.startPath);
        dialog.setDirectory(start.absolutePath());
        // Qt would list the name even where the entry's patterns leave it
        // out, and Open would then take a JPEG for a page: a name of another
        // kind leaves only its folder.
        if (request.save || QDir::match(request.patterns.value(request.selected), start.fileName()))
            dialog.selectFile(start.fileName());
    }
    fitColumns(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    // A typed address is not a name in the folder shown: a file: URL is its
    // own path, and any other goes on as it was typed.
    if (const auto *typed = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
        const QString text = typed->text().trimmed();
        static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
        if (scheme.match(text).hasMatch()) {
            const QUrl url(text);
            if (url.isLocalFile())
                return url.toLocalFile();
            if (url.isValid())
                return text;
        }
    }
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

} // namespace platform
