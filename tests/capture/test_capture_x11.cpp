// Captures with the real X11, clipboard and browser layers, on a real X
// server with openbox.
#include "capture_cases.h"
#include "platform/qt/browser_process.h"
#include "platform/qt/wait_note.h"
#include "platform/x11/x11.h"
#include "real_harness.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

#include <xcb/xcb.h>

namespace
{

const QString Tests = QStringLiteral(MIPO_TESTS_DIR);
} // namespace

class TestCaptureX11 : public QObject
{
    Q_OBJECT
private slots:
    void desktopCopyThenImportGivesTheScreen()
    {
        RealHarness h;
        h.start();
        // It is the screen: the main window's background is in it.
        capture_cases::copyDesktopThenImport(h, QGuiApplication::primaryScreen()->virtualSize(),
                                             QColor(237, 211, 227), 0.01, "X11");
    }

    void screenGrabs()
    {
        RealHarness h;
        h.start();
        MainWindow &f = h.f1();
        platform::ScreenGrabber &grabber = *h.services.screenGrabber;
        QCOMPARE(grabber.grabScreen().picture.size(),
                 QGuiApplication::primaryScreen()->virtualSize());
        // The active window with its frame.
        // The information window, transient for this one, takes the focus
        // when the window manager maps it; ask again until this one has it.
        QVERIFY(QTest::qWaitForWindowExposed(&h.f2(), 30000));
        QTRY_VERIFY((showWindow(&f), f.isActiveWindow()));
        // The window manager may still be framing it: its frame is what is wanted.
        QTRY_COMPARE(grabber.grabWindow(grabber.activeWindow()).size(), f.frameGeometry().size());
    }

    void anotherProgramsPictureImports()
    {
        RealHarness h;
        h.start();
        QTemporaryDir dir;
        QImage img(123, 45, QImage::Format_RGB32);
        img.fill(QColor(200, 40, 90));
        QVERIFY(img.save(dir.filePath("p.png")));
        QProcess xclip;
        xclip.start("xclip",
                    {"-selection", "clipboard", "-t", "image/png", "-i", dir.filePath("p.png")});
        QVERIFY(xclip.waitForFinished(5000)); // it leaves a child that serves the clipboard
        // Once this process has heard that it no longer owns the clipboard.
        QTRY_COMPARE(QGuiApplication::clipboard()->image().size(), QSize(123, 45));
        h.f1().importClipboardChosen();
        QCOMPARE(h.f1().pictureBox->picture().size(), QSize(123, 45));
        QCOMPARE(h.f1().pictureBox->picture().pixelColor(60, 20), QColor(200, 40, 90));
        QGuiApplication::clipboard()->clear(); // the xclip child ends when it loses the clipboard
    }

    void typedTextNeverBecomesASwitch()
    {
        // The recording browser shows no window: the capture waits out its bound.
        platform::ProcessBrowserFactory shortBound(3000);
        RealHarness h([&](platform::Services &s) { s.browserFactory = &shortBound; });
        h.start();
        MainWindow &f = h.f1();
        QTemporaryDir dir;
        const QString argsFile = dir.filePath("args");
        setEnvironment(h, "MIPO_ARGS_FILE", argsFile.toLocal8Bit());
        setEnvironment(h, "BROWSER", QFile::encodeName(Tests + "/record_args.sh"));
        f.onlineChosen();
        f.captureWaitBar->setValue(1);
        h.fakes.inputPrompt.answer = QStringLiteral("--version");
        f.browserCaptureClicked();
        QTRY_VERIFY(QFileInfo::exists(argsFile));
        QFile file(argsFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList args = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(args, (QStringList{"--", "--version"}));
        setEnvironment(h, "BROWSER", {});
    }

    // A browser that ends with an error is said at once, not after the bound
    // on its window (a minute here); nothing is taken, nothing changes.
    void failingBrowserIsSaidAtOnce()
    {
        RealHarness h;
        h.start();
        MainWindow &f = h.f1();
        adopt(h.doc(), 321, 123);
        const qint64 key = f.pictureBox->picture().cacheKey();
        QApplication::clipboard()->setText(QStringLiteral("the user's own words"));
        setEnvironment(h, "BROWSER", "/bin/false");
        h.fakes.fileChooser.answers << QStringLiteral("/nowhere/page.html");
        QElapsedTimer clock;
        clock.start();
        f.browserCaptureClicked();
        qInfo("a browser that fails, said after %lld ms", clock.elapsed());
        QVERIFY2(clock.elapsed() < h.services.browserFactory->windowBoundMs() / 2,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls.last().prompt,
                 QStringLiteral("ブラウザがエラーで終了しました（終了コード 1）。"
                                "現在の画像はそのままです。"));
        QCOMPARE(f.pictureBox->picture().cacheKey(), key);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("the user's own words"));
        setEnvironment(h, "BROWSER", {});
    }

    // A browser that runs without a window: the note says what is waited
    // for; clicks on the program meanwhile are dropped, not run after the
    // wait; after the bound nothing is captured and the user hears why.
    // Another program's window that comes up meanwhile is not the page.
    void windowlessBrowserUnderTheNote()
    {
        platform::ProcessBrowserFactory shortBound(3000);
        RealHarness h([&](platform::Services &s) { s.browserFactory = &shortBound; });
        h.start();
        MainWindow &f = h.f1();
        adopt(h.doc(), 321, 123);
        const qint64 key = f.pictureBox->picture().cacheKey();
        QApplication::clipboard()->setText(QStringLiteral("the user's own words"));
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        setEnvironment(h, "BROWSER", windowlessBrowser(pidFile));
        h.fakes.fileChooser.answers << QStringLiteral("/nowhere/page.html");
        QProcess other;
        QString noteText;
        bool clicked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            QWidget *note = platform::QtWaitNote::window();
            if (!note || clicked)
                return;
            noteText = note->findChild<QLabel *>()->text();
            other.start(QStringLiteral(SOLID_WINDOW),
                        {QStringLiteral("#3050d0"), QStringLiteral("striped")});
            clicked = clickOn(f.openButton); // Open, during the wait
        });
        poll.start(50);
        const int requestsBefore = int(h.fakes.fileChooser.requests.size());
        f.browserCaptureClicked();
        poll.stop();
        QVERIFY(clicked);
        QCOMPARE(noteText, QStringLiteral("ブラウザがページを表示するのを待っています…"));
        QVERIFY(!platform::QtWaitNote::window());
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls.last().prompt,
                 QStringLiteral("ブラウザが時間内にページを表示しませんでした。"
                                "現在の画像はそのままです。"));
        QCOMPARE(other.state(), QProcess::Running);
        QCOMPARE(f.pictureBox->picture().cacheKey(), key);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("the user's own words"));
        other.kill();
        other.waitForFinished();
        // A click after the wait is taken; by then the one during it would
        // have run too, had it been kept.
        const int wait = f.captureWaitBar->value();
        QVERIFY(clickOn(f.captureWaitBar, 0.9));
        QTRY_VERIFY(f.captureWaitBar->value() != wait);
        QCOMPARE(int(h.fakes.fileChooser.requests.size()), requestsBefore + 1); // the page's own
        endProcessIn(pidFile);
        setEnvironment(h, "BROWSER", {});
    }

    // The note's cancel leaves the wait at once: nothing said, nothing taken.
    void cancelledBrowserWait()
    {
        RealHarness h;
        h.start();
        MainWindow &f = h.f1();
        adopt(h.doc(), 321, 123);
        const qint64 key = f.pictureBox->picture().cacheKey();
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        setEnvironment(h, "BROWSER", windowlessBrowser(pidFile));
        h.fakes.fileChooser.answers << QStringLiteral("/nowhere/page.html");
        bool pressed = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (QWidget *note = platform::QtWaitNote::window(); note && !pressed)
                pressed = clickOn(note->findChild<QPushButton *>());
        });
        poll.start(50);
        QElapsedTimer clock;
        clock.start();
        f.browserCaptureClicked();
        poll.stop();
        QVERIFY(pressed);
        QVERIFY2(clock.elapsed() < h.services.browserFactory->windowBoundMs() / 2,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
        QCOMPARE(f.pictureBox->picture().cacheKey(), key);
        endProcessIn(pidFile);
        setEnvironment(h, "BROWSER", {});
    }

    // An owner that never answers costs one bounded wait, then nothing changes.
    void silentClipboardOwner()
    {
        platform::QtClipboard shortImport(std::chrono::milliseconds(500));
        RealHarness h([&](platform::Services &s) { s.clipboard = &shortImport; });
        h.start();
        MainWindow &f = h.f1();
        adopt(h.doc(), 50, 60);
        const qint64 key = f.pictureBox->picture().cacheKey();
        // Another client takes the clipboard and then never reads its events.
        xcb_connection_t *silent = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(silent));
        const xcb_window_t w = xcb_generate_id(silent);
        xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(silent)).data->root;
        xcb_create_window(silent, XCB_COPY_FROM_PARENT, w, root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_intern_atom_reply_t *clip =
            xcb_intern_atom_reply(silent, xcb_intern_atom(silent, 0, 9, "CLIPBOARD"), nullptr);
        xcb_set_selection_owner(silent, w, clip->atom, XCB_CURRENT_TIME);
        free(clip);
        free(xcb_get_input_focus_reply(silent, xcb_get_input_focus(silent), nullptr)); // a sync
        QTRY_VERIFY(!QGuiApplication::clipboard()->ownsClipboard());

        QElapsedTimer clock;
        clock.start();
        f.importClipboardChosen();
        // One wait of half a second, not Qt's own for every picture type:
        // well within ten seconds even on a loaded machine.
        const qint64 ms = clock.elapsed();
        QVERIFY2(ms < 10000, qPrintable(QStringLiteral("%1 ms").arg(ms)));
        QCOMPARE(f.pictureBox->picture().cacheKey(), key);
        QCOMPARE(h.doc().PicWidth, float(50 + 4) * 15);
        xcb_disconnect(silent);
    }

    // The title of the window the window manager has in front.
    static QString frontTitle()
    {
        xcb_connection_t *c = platform::x11::connection();
        const xcb_window_t front = platform::x11::namedActiveWindow(c);
        if (front == XCB_NONE)
            return QStringLiteral("nothing in front");
        return QStringLiteral("in front: ") + platform::x11::windowTitle(c, front);
    }

    void offlineCaptureThroughChromium()
    {
        if (!capture_cases::chromiumInstalled())
            QSKIP("chromium is not installed");
        RealHarness h;
        h.start();
        MainWindow &f = h.f1();
        QTemporaryDir dir;
        h.doc().fileName = QStringLiteral("/kept.jpg");
        // A cold browser (a profile of its own) at the wait the program starts with.
        const qint64 pid = capture_cases::capturePageShowsIt(h, Tests + "/browser.sh", dir, "X11");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(h.doc().fileName, QStringLiteral("/kept.jpg"));
        // The program's window is in front again, the browser still open.
        QTRY_VERIFY2_WITH_TIMEOUT(QApplication::activeWindow() == &f, qPrintable(frontTitle()),
                                  15000);
        QVERIFY(pid > 0);
        QCOMPARE(::kill(pid_t(pid), 0), 0);
        ::kill(pid_t(pid), SIGTERM);
    }
};

QTEST_MAIN(TestCaptureX11)
#include "test_capture_x11.moc"
