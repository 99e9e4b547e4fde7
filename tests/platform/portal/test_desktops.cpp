// Captures in real GNOME Shell and KWin Wayland sessions, each with XWayland
// and its own desktop portal, run inside them by tests/wayland_session.sh
// --desktop gnome|kde. MIPO_DESKTOP says which; the cases are the ones each
// desktop does its own way.
#include "app/linux_bundle.h"
#include "capture_cases.h"
#include "platform/portal/portal_screenshot.h"
#include "platform/portal/screen_grabbers.h"
#include "platform/qt/browser_process.h"
#include "platform/x11/x11.h"
#include "real_harness.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

namespace
{
const QString Desktop = qEnvironmentVariable("MIPO_DESKTOP");

QString sessionFile(const char *name)
{
    return QDir(qEnvironmentVariable("MIPO_SESSION_FILES")).filePath(QString::fromLatin1(name));
}

// Sets what the desktop keeps about screenshots for programs outside a sandbox.
void storeScreenshotPermission(const QString &answer)
{
    QDBusMessage set = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("SetPermission"));
    set << QStringLiteral("screenshot") << true << QStringLiteral("screenshot") << QString()
        << QStringList{answer};
    const QDBusMessage reply = QDBusConnection::sessionBus().call(set, QDBus::Block, 5000);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

// Screenshot files anywhere the desktop's service may have left one.
QStringList leftScreenshots()
{
    QStringList found;
    for (const QString &folder : {QDir::homePath(), QDir::home().filePath("Pictures")})
        for (const QString &name :
             QDir(folder).entryList({QStringLiteral("Screenshot*")}, QDir::Files))
            found << folder + u'/' + name;
    return found;
}

// Forgets what the desktop keeps about screenshots: it asks again.
void forgetScreenshotPermission()
{
    QDBusMessage forget = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("DeletePermission"));
    forget << QStringLiteral("screenshot") << QStringLiteral("screenshot") << QString();
    QDBusConnection::sessionBus().call(forget, QDBus::Block, 5000); // an error: nothing kept
}

// Keys typed into the session as a keyboard would, after the delay.
void typeKeysLater(int ms, const QStringList &keys)
{
    QTimer::singleShot(ms, [keys] {
        QProcess::startDetached(QStringLiteral("python3"),
                                QStringList{sessionFile("mutter_keys.py")} + keys);
    });
}

// Rows or columns at the picture's edges that are black all along.
int blackEdgeLines(const QImage &picture)
{
    const auto black = [&](int x, int y) { return (picture.pixel(x, y) & 0xffffff) == 0; };
    const auto row = [&](int y) {
        for (int x = 0; x < picture.width(); ++x)
            if (!black(x, y))
                return false;
        return true;
    };
    const auto column = [&](int x) {
        for (int y = 0; y < picture.height(); ++y)
            if (!black(x, y))
                return false;
        return true;
    };
    return row(0) + row(picture.height() - 1) + column(0) + column(picture.width() - 1);
}
} // namespace

class TestDesktops : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(Desktop == QStringLiteral("gnome") || Desktop == QStringLiteral("kde"),
                 qPrintable(Desktop));
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        app::LinuxServices real;
        QVERIFY(dynamic_cast<platform::XWaylandGrabber *>(real.screenGrabber.get()));
    }

    // The desktop's question left past the program's bound and past GNOME's
    // own 25 s, after which its answer goes nowhere: nothing is said while
    // the question is still up (it would sit behind it, unseen); once it is
    // gone and the user is back, the user hears that the answer came too
    // late and that the next copy asks again.
    void gnomeTimeOutSaidOnceTheQuestionIsGone()
    {
        if (Desktop != QStringLiteral("gnome"))
            QSKIP("GNOME only");
        forgetScreenshotPermission();
        using namespace std::chrono_literals;
        platform::XWaylandGrabber shortWait({.screen = 3000ms, .focusBack = 60000ms});
        RealHarness h([&](platform::Services &s) { s.screenGrabber = &shortWait; });
        h.start();
        QVERIFY(bringToFront(h.f1(), 10000));
        QElapsedTimer clock;
        qint64 answeredAt = -1, saidAt = -1;
        bool saidWhileAsked = false;
        QTimer::singleShot(27000, [&] {
            saidWhileAsked = !h.fakes.messageBox.calls.isEmpty();
            answeredAt = clock.elapsed();
        });
        typeKeysLater(27000, {QStringLiteral("Tab"), QStringLiteral("Return")});
        // The pointer, moved after the answer, reaches the program again.
        QTimer::singleShot(29000, [&] { moveOver(h.f1().toolStrip); });
        h.fakes.messageBox.onShow = [&](const auto &) { saidAt = clock.elapsed(); };
        clock.start();
        h.f1().copyDesktopChosen();
        qInfo("GNOME, question answered after %lld ms, the time-out said after %lld ms", answeredAt,
              saidAt);
        QVERIFY(!saidWhileAsked);
        QVERIFY(answeredAt > 0 && saidAt >= answeredAt);
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt,
                 QStringLiteral("デスクトップの確認に時間内の答えがなかったため、"
                                "画面を読み取れませんでした。クリップボードはそのままです。\n\n"
                                "もう一度「全体をクリップにコピー」を押すと、"
                                "デスクトップがもう一度確認します。"));
        QCOMPARE(leftScreenshots(), QStringList());
        forgetScreenshotPermission();
    }

    // Allowed after the program's own bound but while the desktop still
    // listens: the screen is taken all the same, and nothing is said.
    void gnomeLateAllowStillTakesTheScreen()
    {
        if (Desktop != QStringLiteral("gnome"))
            QSKIP("GNOME only");
        forgetScreenshotPermission();
        using namespace std::chrono_literals;
        platform::XWaylandGrabber shortWait({.screen = 2000ms, .focusBack = 60000ms});
        RealHarness h([&](platform::Services &s) { s.screenGrabber = &shortWait; });
        h.start();
        QVERIFY(bringToFront(h.f1(), 10000));
        QImage known(31, 17, QImage::Format_RGB32);
        known.fill(Qt::magenta);
        QGuiApplication::clipboard()->setImage(known);
        typeKeysLater(5000, {QStringLiteral("Tab"), QStringLiteral("Return")});
        h.f1().copyDesktopChosen();
        QVERIFY2(h.fakes.messageBox.calls.isEmpty(),
                 qPrintable(h.fakes.messageBox.calls.value(0).prompt));
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(1280, 1024));
        QCOMPARE(leftScreenshots(), QStringList());
        forgetScreenshotPermission();
    }

    // The first copy on GNOME: the desktop asks; Allow after about 3 s gives
    // the screen, and no screenshot file stays behind.
    void gnomeAsksFirst()
    {
        if (Desktop != QStringLiteral("gnome"))
            QSKIP("GNOME only");
        RealHarness h;
        h.start();
        QVERIFY(QTest::qWaitForWindowExposed(&h.f1(), 30000));
        QProcess allow;
        allow.start(QStringLiteral("sh"), {"-c", "sleep 3 && exec python3 \"$0\" Tab Return",
                                           sessionFile("mutter_keys.py")});
        QElapsedTimer clock;
        clock.start();
        h.f1().copyDesktopChosen();
        qInfo("GNOME, first desktop copy, Allow pressed after 3 s: %lld ms", clock.elapsed());
        // It may have ended while the copy waited.
        QVERIFY(allow.state() == QProcess::NotRunning || allow.waitForFinished(10000));
        QCOMPARE(allow.exitCode(), 0);
        QVERIFY2(h.fakes.messageBox.calls.isEmpty(),
                 qPrintable(h.fakes.messageBox.calls.value(0).prompt));
        QVERIFY(clock.elapsed() >= 2500); // it waited for the dialog
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(1280, 1024));
        QCOMPARE(leftScreenshots(), QStringList());
        // Allowed once, later copies are silent.
        clock.restart();
        h.f1().copyDesktopChosen();
        qInfo("GNOME, a later desktop copy: %lld ms", clock.elapsed());
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
        QCOMPARE(leftScreenshots(), QStringList());
    }

    // A refusal the desktop keeps: said at once with the way back, then the
    // desktop's own dialog is offered; the clipboard stays as it was.
    void gnomeRefusal()
    {
        if (Desktop != QStringLiteral("gnome"))
            QSKIP("GNOME only");
        storeScreenshotPermission(QStringLiteral("no"));
        RealHarness h;
        h.start();
        QImage known(31, 17, QImage::Format_RGB32);
        known.fill(Qt::magenta);
        QGuiApplication::clipboard()->setImage(known);
        h.fakes.messageBox.answers << platform::MessageAnswer::Ok << platform::MessageAnswer::No;
        QElapsedTimer clock;
        qint64 toMessage = -1;
        h.fakes.messageBox.onShow = [&](const auto &) {
            if (toMessage < 0)
                toMessage = clock.elapsed();
        };
        clock.start();
        h.f1().copyDesktopChosen();
        qInfo("GNOME, desktop copy after a refusal: message after %lld ms", toMessage);
        // Said before the portal's bound would have run out: the refusal is known up front.
        QVERIFY(toMessage >= 0 && toMessage < platform::PortalBounds{}.screen.count() / 2);
        QCOMPARE(h.fakes.messageBox.calls.size(), 2);
        QVERIFY(h.fakes.messageBox.calls[0].prompt.startsWith(
            QStringLiteral("デスクトップが、このプログラムによる画面の読み取りを拒否しました。")));
        QCOMPARE(h.fakes.messageBox.calls[1].style,
                 platform::MessageStyle::YesNo | platform::MessageStyle::Question);
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(31, 17));
        QVERIFY(platform::screenshotsRefusedByDesktop());
        storeScreenshotPermission(QStringLiteral("yes"));
        QVERIFY(!platform::screenshotsRefusedByDesktop());
    }

    // KDE's service saves in ~/Pictures and cancels without it: it is made.
    void kdeWithoutPicturesFolder()
    {
        if (Desktop != QStringLiteral("kde"))
            QSKIP("KDE only");
        const QString pictures = QDir::home().filePath(QStringLiteral("Pictures"));
        QVERIFY(!QFileInfo::exists(pictures));
        RealHarness h;
        h.start();
        QElapsedTimer clock;
        clock.start();
        h.f1().copyDesktopChosen();
        qInfo("KDE, desktop copy: %lld ms", clock.elapsed());
        QVERIFY2(h.fakes.messageBox.calls.isEmpty(),
                 qPrintable(h.fakes.messageBox.calls.value(0).prompt));
        QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(1280, 1024));
        QVERIFY(QFileInfo(pictures).isDir());
        QCOMPARE(leftScreenshots(), QStringList());
    }

    // The desktop's screenshot dialog, left open past the program's bound:
    // a click on the program meanwhile is dropped, not run once the dialog
    // has gone, and once the user is back at the program the end of the
    // wait is said.
    void gnomeScreenshotDialogLeftOpen()
    {
        if (Desktop != QStringLiteral("gnome"))
            QSKIP("GNOME only");
        storeScreenshotPermission(QStringLiteral("no"));
        using namespace std::chrono_literals;
        platform::XWaylandGrabber shortWait({.interactive = 3000ms, .focusBack = 30000ms});
        RealHarness h([&](platform::Services &s) { s.screenGrabber = &shortWait; });
        h.start();
        MainWindow &f = h.f1();
        QVERIFY(bringToFront(f, 10000));
        h.fakes.messageBox.answers << platform::MessageAnswer::Ok << platform::MessageAnswer::Yes;
        bool clicked = false;
        QTimer::singleShot(1500, [&] { clicked = clickOn(f.openButton); });
        // Back at the program with the dialog still open.
        QTimer::singleShot(5000, [&] { moveOver(f.toolStrip); });
        f.copyDesktopChosen();
        typeKeysLater(0, {QStringLiteral("Escape")});
        QVERIFY(clicked);
        QCOMPARE(h.fakes.messageBox.calls.size(), 3);
        QCOMPARE(h.fakes.messageBox.calls[2].prompt,
                 QStringLiteral("デスクトップのスクリーンショット画面から、"
                                "時間内に画像が届きませんでした。クリップボードはそのままです。"));
        // A click after the wait is taken; by then the one during it would
        // have run too, had it been kept.
        QVERIFY(bringToFront(f, 10000));
        const int wait = f.captureWaitBar->value();
        QVERIFY(clickOn(f.captureWaitBar, 0.9));
        QTRY_VERIFY(f.captureWaitBar->value() != wait);
        QVERIFY(h.fakes.fileChooser.requests.isEmpty());
        storeScreenshotPermission(QStringLiteral("yes"));
    }

    // Where the compositor blends windows, the elliptical window's corners
    // show the window behind it, not black or pieces of earlier windows.
    void ellipseCornersShowWhatIsBehind()
    {
        // GNOME may open its overview over a fresh session's windows.
        if (Desktop != QStringLiteral("kde"))
            QSKIP("KDE only");
        const QColor behind(0x20, 0xc0, 0x40);
        const auto near = [](QColor a, QColor b) {
            return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) +
                       qAbs(a.blue() - b.blue()) <
                   30;
        };
        // The screen as the compositor shows it.
        QImage screen;
        qreal scale = 1;
        const auto shoot = [&] {
            screen = platform::portalScreenshot(std::chrono::seconds(10)).picture;
            scale = qreal(screen.width()) / QGuiApplication::primaryScreen()->geometry().width();
            return !screen.isNull();
        };
        const auto at = [&](QPoint p) { return screen.pixelColor(QPointF(p * scale).toPoint()); };
        // The window behind is up before the program's windows come over it.
        QProcess solid;
        solid.start(sessionFile("solid_window"), {behind.name(), QStringLiteral("covering")});
        QVERIFY(solid.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(shoot() && near(at(QPoint(20, 1000)), behind), 20000);
        RealHarness h;
        h.start();
        InformationWindow &form = h.f2();
        QVERIFY(form.testAttribute(Qt::WA_TranslucentBackground));
        // Inside, just below the ellipse's top, where no control is: the window's own face.
        const QRect r = form.geometry();
        const QPoint inside(r.center().x(), r.top() + 6);
        QTRY_VERIFY_WITH_TIMEOUT(
            shoot() && near(at(inside), form.palette().color(QPalette::Window)), 20000);
        for (const QPoint corner : {r.topLeft() + QPoint(3, 3), r.topRight() + QPoint(-3, 3),
                                    r.bottomLeft() + QPoint(3, -3), r.bottomRight() - QPoint(3, 3)})
            QVERIFY2(near(at(corner), behind),
                     qPrintable(QStringLiteral("%1 at the corner").arg(at(corner).name())));
        solid.kill();
        solid.waitForFinished();
    }

    // A fresh browser profile: chromium, started with the program's own
    // switches, asks for no wallet or keyring and shows the page.
    void freshProfileBrowserCapture()
    {
        if (!capture_cases::chromiumInstalled())
            QFAIL("chromium is not installed");
        if (Desktop == QStringLiteral("gnome"))
            storeScreenshotPermission(QStringLiteral("yes"));
        QTemporaryDir dir;
        platform::ProcessBrowserFactory chromium(60000, {chromiumWrapper(dir)});
        RealHarness h([&](platform::Services &s) { s.browserFactory = &chromium; });
        h.start();
        capture_cases::capturePageShowsIt(h, {}, dir, qPrintable(Desktop));
        endProcessIn(dir.filePath(QStringLiteral("pids")));
    }

    // A window the desktop decorates is taken as the user sees it: its title
    // bar drawn, no black bands, no shadow margins.
    void decoratedWindowWithoutBlackBands()
    {
        if (Desktop == QStringLiteral("gnome"))
            storeScreenshotPermission(QStringLiteral("yes"));
        RealHarness h;
        h.start();
        MainWindow &f = h.f1();
        h.program->informationWindow().hide(); // nothing over the main window
        QVERIFY(bringToFront(f, 10000));
        xcb_connection_t *c = platform::x11::connection();
        const auto top = platform::x11::topLevelOf(c, xcb_window_t(f.winId()));
        platform::ScreenGrabber &grabber = *h.services.screenGrabber;
        // Once the compositor has drawn its frame around the window.
        QImage window;
        QElapsedTimer clock;
        QTRY_VERIFY_WITH_TIMEOUT((clock.start(), window = grabber.grabWindow(top),
                                  window.height() > f.height() && blackEdgeLines(window) == 0),
                                 15000);
        qInfo("%s, decorated window grab: %lld ms, %dx%d (the window %dx%d inside)",
              qPrintable(Desktop), clock.elapsed(), window.width(), window.height(), f.width(),
              f.height());
        QVERIFY(!window.isNull());
        QVERIFY2(window.height() > f.height(), "the title bar is in it");
        QVERIFY(window.width() >= f.width());
        QCOMPARE(blackEdgeLines(window), 0);
        // The title bar is not black either: the top rows hold no black run
        // across the window.
        int blackTopRows = 0;
        for (int y = 0; y < window.height() - f.height(); ++y) {
            int black = 0;
            for (int x = 0; x < window.width(); ++x)
                black += (window.pixel(x, y) & 0xffffff) == 0;
            blackTopRows += black > window.width() * 9 / 10;
        }
        QCOMPARE(blackTopRows, 0);
        QVERIFY(share(window, QColor(237, 211, 227)) > 0.3); // the main window's pink
    }

    // The first capture of the day: the browser is not running yet. At the
    // wait the program starts with, the page comes, or a message does; never
    // a black picture called a capture.
    void coldBrowserCapture()
    {
        if (!capture_cases::chromiumInstalled())
            QFAIL("chromium is not installed");
        RealHarness h;
        h.start();
        QTemporaryDir dir;
        QElapsedTimer clock;
        clock.start();
        const qint64 pid = captureOnePage(h, sessionFile("browser.sh"), dir, "#1e90ff");
        qInfo("%s, cold browser capture at the default wait: %lld ms", qPrintable(Desktop),
              clock.elapsed());
        const QImage shot = h.f1().pictureBox->picture();
        QVERIFY(!h.fakes.messageBox.calls.isEmpty());
        const QString said = h.fakes.messageBox.calls.last().prompt;
        if (said == QStringLiteral("キャプチャ完了")) {
            QVERIFY2(share(shot, QColor(0x1e, 0x90, 0xff)) > 0.5,
                     qPrintable(QStringLiteral("%1x%2, %3 of it the page")
                                    .arg(shot.width())
                                    .arg(shot.height())
                                    .arg(share(shot, QColor(0x1e, 0x90, 0xff)))));
            QCOMPARE(blackEdgeLines(shot), 0);
        } else {
            QVERIFY2(said.startsWith(QStringLiteral("ブラウザが時間内に")), qPrintable(said));
        }
        if (pid > 0)
            ::kill(pid_t(pid), SIGTERM);
    }
};

QTEST_MAIN(TestDesktops)
#include "test_desktops.moc"
