#include "app/command_line.h"
#include "app/linux_bundle.h"
#include "app/program.h"
#include "core/app_identity.h"
#include "core/runtime.h"
#include "platform/portal/portal_screenshot.h"
#include "platform/qt/application_setup.h"
#include "platform/x11/session.h"
#include "widgets/controls.h"

#include <QApplication>
#include <QSet>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <thread>

#include <dlfcn.h>

namespace
{
// For the start-up benchmark: once every window shown at start has painted,
// say so on standard output and leave.
class FirstPaintReport : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            painted_.insert(static_cast<QWidget *>(watched)->window());
            if (!done_ && painted_.size() >= 2) {
                done_ = true;
                QTimer::singleShot(0, [] {
                    std::puts("painted");
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                });
            }
        }
        return false;
    }

private:
    QSet<QWidget *> painted_;
    bool done_ = false;
};
} // namespace

int main(int argc, char *argv[])
{
    // A reader that goes away turns a write into an error the save reports,
    // never into the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
    // Help, version and conversions run without windows and need no display.
    const command_line::Start start = command_line::run(argc, argv);
    if (start.status)
        return *start.status;
    // Without any display Qt would end the program with an abort; say why instead.
    const QByteArray chosenPlatform = qgetenv("QT_QPA_PLATFORM");
    if ((chosenPlatform.isEmpty() || chosenPlatform.startsWith("xcb") ||
         chosenPlatform.startsWith("wayland")) &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("mipoquibbo: 画面がありません（DISPLAY も WAYLAND_DISPLAY もありません）。"
                   "変換は --output か --output-dir で行えます\n",
                   stderr);
        return 1;
    }
    // Reading fontconfig's configuration takes a few milliseconds that the first
    // caption would otherwise wait for; it can run while Qt connects to the display.
    // The library is already loaded as Qt's own dependency, hence no link to it.
    std::thread fontWarmUp([] {
        if (void *fc = dlopen("libfontconfig.so.1", RTLD_LAZY | RTLD_NOLOAD)) {
            if (auto init = reinterpret_cast<int (*)()>(dlsym(fc, "FcInit")))
                init();
            dlclose(fc);
        }
    });
    // In a Wayland session the windows go through XWayland: there they keep
    // their places, the ellipse, the drag and activation by title.
    const QByteArray platformName = qgetenv("QT_QPA_PLATFORM");
    if (platform::isWaylandSession() && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        (platformName.isEmpty() || platformName.startsWith("wayland")))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The menu bar belongs inside the main window, never in a desktop's global menu.
    QApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mipoquibbo"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(app_identity::Major)
                                            .arg(app_identity::Minor)
                                            .arg(app_identity::Revision));
    platform::installJapaneseQtTexts();
    platform::keepNoSettings();
    fontWarmUp.join();
    QApplication::setFont(defs::font(defs::DefaultFontPt));

    FirstPaintReport report;
    if (qEnvironmentVariableIsSet("MIPOQUIBBO_REPORT_FIRST_PAINT"))
        app.installEventFilter(&report);

    app::LinuxServices real;
    Program program(real.services());
    rt::setHost({
        [&](const QString &text) {
            real.messageBox.show(text, platform::MessageStyle::Critical,
                                 platform::applicationTitle());
        },
        [](int status) { QCoreApplication::exit(status); },
    });

    program.start(start.file);
    const int status = rt::ended() ? rt::endStatus() : QApplication::exec();
    // Windows unloaded on the way out are still waiting for their deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return rt::ended() ? rt::endStatus() : status;
}
