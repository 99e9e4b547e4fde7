// The desktop copy, the clipboard import and the browser capture reached
// through the main window, with doubles; the browser layer's arguments; the
// real prompt.
#include "harness.h"
#include "platform/portal/screen_grabbers.h"
#include "platform/qt/browser_process.h"
#include "platform/qt/event_loop.h"
#include "platform/qt/input_prompt.h"
#include "platform/qt/message_box.h"
#include "platform/x11/x11.h"
#include "platform/x11/x11_grabber.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>

namespace
{
QImage picture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::blue);
    return img;
}
} // namespace

class TestCapture : public QObject
{
    Q_OBJECT
private slots:
    // The toolbar and the menu reach the commands; the main window shows what they did.
    void desktopCopyLeavesTheWindowAlone()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        const QSize shown = f.pictureView->size();
        h.fakes.screenGrabber.screen = picture(1280, 1024);
        h.fakes.log.clear();
        QTest::mouseClick(f.copyDesktopButton, Qt::LeftButton);
        QCOMPARE(h.fakes.log, (QStringList{"grabScreen", "setPicture 1280x1024", "processEvents"}));
        QCOMPARE(f.pictureView->size(), shown);
        QCOMPARE(h.doc().PicWidth, 1020.0f);
    }

    void importShowsThePicture()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        h.f2().hide();
        h.fakes.clipboard.content = picture(800, 97);
        QTest::mouseClick(f.importClipboardButton, Qt::LeftButton);
        QVERIFY(h.f2().isVisible()); // shown again
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("NO FILE"));
        QCOMPARE(f.pictureBox->picture().size(), QSize(800, 97));
        QCOMPARE(f.pictureView->picture().cacheKey(), f.pictureBox->picture().cacheKey());
        QCOMPARE(f.pictureView->width(), 457); // the layout ran
        // Without a picture on the clipboard the window keeps its picture.
        const qint64 key = f.pictureBox->picture().cacheKey();
        h.fakes.clipboard.content = QImage();
        f.importClipboardItem->trigger();
        QCOMPARE(f.pictureBox->picture().cacheKey(), key);
        QVERIFY(h.unhandled.isEmpty());
    }

    void modeMenuChecks()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        f.offlineItem->trigger(); // already offline: nothing
        QVERIFY(f.offlineItem->isChecked() && !f.onlineItem->isChecked());
        f.onlineItem->trigger();
        QVERIFY(!f.offlineItem->isChecked() && f.onlineItem->isChecked());
        QCOMPARE(h.doc().offlineMode, int16_t(0));
        f.onlineItem->trigger();
        QVERIFY(f.onlineItem->isChecked());
        f.offlineItem->trigger();
        QVERIFY(f.offlineItem->isChecked() && !f.onlineItem->isChecked());
        QCOMPARE(h.doc().offlineMode, int16_t(1));
    }

    // The menu item and the button run the capture; the layout comes after its message.
    void captureThroughTheWindow()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        h.fakes.fileChooser.answers << QStringLiteral("/pages/a.html");
        h.fakes.screenGrabber.windowPictures = {platform::drawnWindow(800, 97)};
        QSize atMessage;
        h.fakes.messageBox.onShow = [&](const auto &) { atMessage = f.pictureView->size(); };
        f.browserCaptureItem->trigger();
        QCOMPARE(atMessage, QSize(187, 187));
        QCOMPARE(f.pictureView->width(), 457);
        QCOMPARE(f.pictureBox->picture().size(), QSize(800, 97));
        // The slider's wait: 10 per step, 4000 passes each.
        f.captureWaitBar->setValue(1);
        f.onlineItem->trigger();
        QTest::mouseClick(f.browserButton, Qt::LeftButton);
        QCOMPARE(h.fakes.eventLoop.waits, (QList<int64_t>{6000001, 40001}));
        // The next dialog starts with the page's path.
        f.openItem->trigger();
        QCOMPARE(h.fakes.fileChooser.requests.last().startPath, QStringLiteral("/pages/a.html"));
    }

    void browserArguments()
    {
        using F = platform::ProcessBrowserFactory;
        // The target always comes after "--": typed text never becomes a switch.
        QCOMPARE(F::argumentsFor({"/usr/lib/chromium/chromium", {"--new-window"}}, "--version"),
                 (QStringList{"--new-window", "--", "--version"}));
        QCOMPARE(F::argumentsFor({"/bin/b", {"--x", "open=%s"}}, "a b"),
                 (QStringList{"--x", "open=a b"}));
        // A target standing alone in a $BROWSER entry keeps its "--", once.
        QCOMPARE(F::argumentsFor({"/bin/b", {"--x", "%s"}}, "-x"),
                 (QStringList{"--x", "--", "-x"}));
        QCOMPARE(F::argumentsFor({"/bin/b", {"--", "%s"}}, "-x"), (QStringList{"--", "-x"}));

        qputenv("BROWSER", "no-such-browser-here:sh -c true");
        const auto found = F().commands();
        QCOMPARE(found.size(), 1);
        QVERIFY(found[0].program.endsWith("/sh"));
        QCOMPARE(found[0].arguments, (QStringList{"-c", "true"}));
        qputenv("BROWSER", "no-such-browser-here");
        bool raised = false;
        try {
            F().create();
        } catch (const rt::RuntimeError &e) {
            raised = e.number() == rt::ErrCantCreateObject;
        }
        QVERIFY(raised);
        qunsetenv("BROWSER");
    }

    // A long address goes on whole, not cut at a line edit's default length.
    void promptTakesLongAddresses()
    {
        const QString typed = QStringLiteral("http://127.0.0.1/") + QString(40000, u'a');
        int width = 0, titleWidth = 0;
        QTimer::singleShot(0, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *line = w->findChild<QLineEdit *>(); line && w->isVisible()) {
                    width = w->width();
                    titleWidth = w->fontMetrics().horizontalAdvance("オンラインキャプチャ");
                    line->setText(typed);
                    QMetaObject::invokeMethod(w, "accept");
                }
        });
        platform::QtInputPrompt prompt;
        QCOMPARE(prompt.ask("prompt", "オンラインキャプチャ", "http//:www").size(), typed.size());
        // Wide enough for its title beside a window manager's buttons.
        QVERIFY2(width >= titleWidth + 100,
                 qPrintable(QStringLiteral("%1 %2").arg(width).arg(titleWidth)));
    }

    // A message box tells a screen reader its text, and its text can be copied.
    void messageBoxesDescribeThemselves()
    {
        QString described;
        bool selectable = false;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            described = box->accessibleDescription();
            selectable = box->textInteractionFlags() & Qt::TextSelectableByMouse;
            box->accept();
        });
        platform::QtMessageBox().show(QStringLiteral("キャプチャ完了"),
                                      platform::MessageStyle::OkOnly,
                                      QStringLiteral("キャプチャ処理"));
        QCOMPARE(described, QStringLiteral("キャプチャ完了"));
        QVERIFY(selectable);
    }

    // One grabber for the session, the override first.
    void grabberChosenOnce()
    {
        using namespace platform;
        QVERIFY(dynamic_cast<X11SessionGrabber *>(makeScreenGrabber().get()));
        qputenv("MIPO_SCREEN_GRABBER", "xwayland");
        QVERIFY(dynamic_cast<XWaylandGrabber *>(makeScreenGrabber().get()));
        qputenv("MIPO_SCREEN_GRABBER", "portal");
        const std::unique_ptr<ScreenGrabber> portal = makeScreenGrabber();
        QVERIFY(dynamic_cast<PortalGrabber *>(portal.get()));
        QVERIFY(!portal->seesWindows());
        qunsetenv("MIPO_SCREEN_GRABBER");
    }

    // What the user sees of a window: the frame's drawn part around the
    // program's window, less the invisible borders around that and the
    // shadow a program draws itself.
    void visiblePartOfAWindow()
    {
        using namespace platform::x11;
        xcb_connection_t *c = connection();
        QVERIFY(c);
        const auto window = [&](xcb_window_t parent, QRect r) {
            const xcb_window_t w = xcb_generate_id(c);
            const uint32_t values[] = {1}; // override-redirect: no window manager's say
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, parent, int16_t(r.x()), int16_t(r.y()),
                              uint16_t(r.width()), uint16_t(r.height()), 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                              XCB_CW_OVERRIDE_REDIRECT, values);
            return w;
        };
        const auto set = [&](xcb_window_t w, const char *name, xcb_atom_t type,
                             std::initializer_list<uint32_t> v) {
            const std::vector<uint32_t> values(v);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, name), type, 32,
                                uint32_t(values.size()), values.data());
        };
        // A frame with invisible borders of 10 around a title bar of 30.
        const xcb_window_t frame = window(root(c), QRect(100, 50, 240, 170));
        const xcb_window_t client = window(frame, QRect(20, 40, 200, 120));
        set(client, "WM_STATE", atom(c, "WM_STATE"), {1, 0});
        set(client, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {10, 10, 30, 10});
        // A program's own window with a shadow of 5, 6, 7, 8 (left, right, top, bottom).
        const xcb_window_t shadowed = window(root(c), QRect(400, 300, 300, 200));
        set(shadowed, "_GTK_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {5, 6, 7, 8});
        xcb_map_window(c, client);
        xcb_map_window(c, frame);
        xcb_map_window(c, shadowed);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

        QCOMPARE(clientOf(c, frame), client);
        const std::optional<Placement> framed = placementOf(c, frame);
        QVERIFY(framed);
        QCOMPARE(framed->frame, QRect(100, 50, 240, 170));
        QCOMPARE(framed->client, QRect(120, 90, 200, 120));
        QCOMPARE(framed->visible, QRect(110, 60, 220, 160));
        QCOMPARE(clientOf(c, shadowed), shadowed);
        QCOMPARE(placementOf(c, shadowed)->visible, QRect(405, 307, 289, 185));
        // A window manager that says nothing of its frame: the frame whole.
        xcb_delete_property(c, client, atom(c, "_NET_FRAME_EXTENTS"));
        QCOMPARE(placementOf(c, frame)->visible, QRect(100, 50, 240, 170));
        xcb_destroy_window(c, frame);
        xcb_destroy_window(c, shadowed);
        xcb_flush(c);
    }

    // Half a microsecond a pass, and nothing else runs meanwhile.
    void countedWaitHoldsEverythingElse()
    {
        platform::QtEventLoop loop;
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        QElapsedTimer t;
        t.start();
        loop.countedWait(400001);
        // 0.2 s planned; only a gross error in the pacing would miss this.
        QVERIFY2(t.elapsed() >= 150 && t.elapsed() < 2000,
                 qPrintable(QString::number(t.elapsed())));
        QVERIFY(!ran);
        loop.processEvents();
        QVERIFY(ran);
    }
};

QTEST_MAIN(TestCapture)
#include "test_capture.moc"
