// Captures in a real headless Wayland session (sway, XWayland, the desktop
// portal), run inside it by tests/wayland_session.sh: the program's windows
// on XWayland, a native Wayland window beside them.
#include "capture_cases.h"
#include "platform/portal/portal_screenshot.h"
#include "platform/x11/session.h"
#include "real_harness.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>

#include <csignal>

namespace
{
const QColor Solid(0x20, 0xc0, 0x40);

QString sessionFile(const char *name)
{
    return QDir(qEnvironmentVariable("MIPO_SESSION_FILES")).filePath(QString::fromLatin1(name));
}

// A command to sway, whose failure the caller's polling outlasts.
void swaymsg(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("swaymsg"), args);
    p.waitForFinished(5000);
}
} // namespace

class TestWayland : public QObject
{
    Q_OBJECT
    QProcess solid;

private slots:
    void initTestCase()
    {
        QVERIFY(platform::isWaylandSession());
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        solid.setProcessEnvironment(env);
        solid.start(sessionFile("solid_window"), {Solid.name()});
        QVERIFY(solid.waitForStarted());
        // Mapped and drawn by the compositor: in the portal's picture of the screen.
        const std::unique_ptr<platform::ScreenGrabber> grabber = platform::makeScreenGrabber();
        QTRY_VERIFY_WITH_TIMEOUT(share(grabber->grabScreen().picture, Solid) > 0.01, 30000);
        QCOMPARE(solid.state(), QProcess::Running);
    }

    void cleanupTestCase()
    {
        solid.kill();
        solid.waitForFinished();
    }

    void desktopCopyThroughThePortal()
    {
        RealHarness h;
        h.start();
        // The native Wayland window is in it: no black picture.
        capture_cases::copyDesktopThenImport(h, QSize(1280, 1024), Solid, 0.1, "the portal");
        // The portal's file is gone with the request.
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/out.png")));
    }

    void activeXWaylandWindowIsReadThroughX11()
    {
        RealHarness h;
        h.start();
        MainWindow &f = h.f1();
        // Focus as the user gives it: through the compositor, until it says
        // so and its word and the size settle. A window mapped later may take
        // the focus (sway gives it to every new window).
        platform::ScreenGrabber &grabber = *h.services.screenGrabber;
        const auto mainWindowActive = [&] {
            // Until the window is mapped sway finds nothing to focus and
            // says so; the next try asks again.
            if (grabber.activeWindow() != platform::ScreenGrabber::Window(f.winId()))
                swaymsg({QStringLiteral("[title=\"IEキャプチャ機能付\"]"), "focus"});
            return grabber.grabWindow(grabber.activeWindow()).size() == f.frameGeometry().size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(mainWindowActive(), 10000);
        QTRY_VERIFY(f.isActiveWindow());
        QElapsedTimer clock;
        clock.start();
        const QImage window = grabber.grabWindow(grabber.activeWindow());
        qInfo("active XWayland window through X11: %lld ms", clock.elapsed());
        QCOMPARE(window.size(), f.frameGeometry().size());
        QVERIFY(share(window, QColor(237, 211, 227)) > 0.1); // the main window's pink
    }

    void offlineCaptureThroughChromium()
    {
        if (!capture_cases::chromiumInstalled())
            QFAIL("chromium is not installed");
        RealHarness h;
        h.start();
        QTemporaryDir dir;
        const qint64 pid =
            capture_cases::capturePageShowsIt(h, sessionFile("browser.sh"), dir, "sway");
        if (pid > 0)
            ::kill(pid_t(pid), SIGTERM);
    }

    // The compositor shows the information window as an ellipse: at its
    // corners the windows below show through. (Clicks cannot be tried here:
    // the headless compositor has no pointer device to send them from.)
    void informationWindowStaysAnEllipse()
    {
        RealHarness h;
        h.start();
        InformationWindow &info = h.f2();
        const QRect r = info.frameGeometry();
        QImage screen;
        const QColor yellow(250, 253, 185);
        const auto near = [&](QPoint at) {
            const QColor p = screen.pixelColor(at);
            return qAbs(p.red() - yellow.red()) + qAbs(p.green() - yellow.green()) +
                       qAbs(p.blue() - yellow.blue()) <
                   20;
        };
        // Once the compositor shows it.
        QTRY_VERIFY_WITH_TIMEOUT((screen = h.services.screenGrabber->grabScreen().picture,
                                  !screen.isNull() && near(QPoint(r.left() + 40, r.center().y()))),
                                 15000);
        QCOMPARE(screen.size(), QSize(1280, 1024));
        for (const QPoint corner : {r.topLeft() + QPoint(3, 3), r.topRight() + QPoint(-3, 3),
                                    r.bottomLeft() + QPoint(3, -3), r.bottomRight() - QPoint(3, 3)})
            QVERIFY2(!near(corner), qPrintable(screen.pixelColor(corner).name()));
        QVERIFY(near(QPoint(r.left() + 40, r.center().y())));
    }

    // The program itself, left to choose its platform, puts its windows on XWayland.
    void programWindowsGoThroughXWayland()
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        program.setProcessEnvironment(env);
        program.start(sessionFile("mipoquibbo"));
        QVERIFY(program.waitForStarted());
        const auto shells = [] {
            QProcess tree;
            tree.start(QStringLiteral("swaymsg"), {"-t", "get_tree"});
            tree.waitForFinished(5000);
            QStringList found;
            const std::function<void(const QJsonObject &)> walk = [&](const QJsonObject &node) {
                if (node.value("name").toString().startsWith(QStringLiteral("みぽ")) ||
                    node.value("name").toString() == QStringLiteral("ファイルネーム"))
                    found << node.value("name").toString() + u' ' + node.value("shell").toString();
                for (const char *list : {"nodes", "floating_nodes"})
                    for (const QJsonValue child : node.value(list).toArray())
                        walk(child.toObject());
            };
            walk(QJsonDocument::fromJson(tree.readAllStandardOutput()).object());
            found.sort();
            return found;
        };
        QTRY_COMPARE(shells(), (QStringList{"みぽＱＵＩＢＢＯ－IEキャプチャ機能付 xwayland",
                                            "ファイルネーム xwayland"}));
        program.kill();
        program.waitForFinished();
    }

    // Last: the portal goes away for good.
    void withoutThePortalTheClipboardStays()
    {
        QFile::remove(QDir(qEnvironmentVariable("MIPO_DBUS_SERVICES"))
                          .filePath("org.freedesktop.portal.Desktop.service"));
        const auto portals = [] {
            QList<pid_t> found;
            for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
                if (cmdline.open(QIODevice::ReadOnly) &&
                    cmdline.readAll().startsWith("/usr/libexec/xdg-desktop-portal\0"))
                    found << pid_t(entry.toLongLong());
            }
            return found;
        };
        for (const pid_t pid : portals())
            ::kill(pid, SIGTERM);
        QTRY_VERIFY(portals().isEmpty());
        RealHarness h;
        h.start();
        QImage known(31, 17, QImage::Format_RGB32);
        known.fill(Qt::magenta);
        QGuiApplication::clipboard()->setImage(known);
        QElapsedTimer clock;
        clock.start();
        h.f1().copyDesktopChosen();
        qInfo("desktop copy without a portal: %lld ms", clock.elapsed());
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, QStringLiteral("画面を読み取れませんでした"));
        QCOMPARE(h.fakes.messageBox.calls[0].title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(31, 17));
    }
};

QTEST_MAIN(TestWayland)
#include "test_wayland.moc"
