// The desktop copy, the clipboard import and the browser capture reached
// through the main window, with doubles; the browser layer's arguments; the
// real prompt.
#include "harness.h"
#include "platform/linux_capture.h"

#include <QLabel>
#include <QLineEdit>
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
        Form1 &f = h.f1();
        const QSize shown = f.Image1->size();
        h.fakes.screenGrabber.screen = picture(1280, 1024);
        h.fakes.log.clear();
        QTest::mouseClick(f.Command3, Qt::LeftButton);
        QCOMPARE(h.fakes.log, (QStringList{"grabScreen", "SetData 1280x1024", "DoEvents"}));
        QCOMPARE(f.Image1->size(), shown);
        QCOMPARE(h.doc().PicWidth, 1020.0f);
    }

    void importShowsThePicture()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        h.f2().hide();
        h.fakes.clipboard.picture = picture(800, 97);
        QTest::mouseClick(f.Command4, Qt::LeftButton);
        QVERIFY(h.f2().isVisible()); // shown again
        QCOMPARE(h.f2().Label1->text(), QStringLiteral("NO FILE"));
        QCOMPARE(f.Picture1->picture().size(), QSize(800, 97));
        QCOMPARE(f.Image1->picture().cacheKey(), f.Picture1->picture().cacheKey());
        QCOMPARE(f.Image1->width(), 457); // the layout ran
        // Without a picture on the clipboard the window keeps its picture.
        const qint64 key = f.Picture1->picture().cacheKey();
        h.fakes.clipboard.picture = QImage();
        f.mnuclip->trigger();
        QCOMPARE(f.Picture1->picture().cacheKey(), key);
        QVERIFY(h.unhandled.isEmpty());
    }

    void modeMenuChecks()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        f.mnuoff->trigger(); // already offline: nothing
        QVERIFY(f.mnuoff->isChecked() && !f.mnuon->isChecked());
        f.mnuon->trigger();
        QVERIFY(!f.mnuoff->isChecked() && f.mnuon->isChecked());
        QCOMPARE(h.doc().IEMode, int16_t(0));
        f.mnuon->trigger();
        QVERIFY(f.mnuon->isChecked());
        f.mnuoff->trigger();
        QVERIFY(f.mnuoff->isChecked() && !f.mnuon->isChecked());
        QCOMPARE(h.doc().IEMode, int16_t(1));
    }

    // The menu item and the button run the capture; the layout comes after its message.
    void captureThroughTheWindow()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        h.fakes.fileChooser.answers << QStringLiteral("/pages/a.html");
        h.fakes.screenGrabber.windowPictures = {platform::drawnWindow(800, 97)};
        QSize atMessage;
        h.fakes.messageBox.onShow = [&](const auto &) { atMessage = f.Image1->size(); };
        f.mnuie->trigger();
        QCOMPARE(atMessage, QSize(187, 187));
        QCOMPARE(f.Image1->width(), 457);
        QCOMPARE(f.Picture1->picture().size(), QSize(800, 97));
        // The slider's wait: 10 per step, 4000 passes each.
        f.HScroll1->setValue(1);
        f.mnuon->trigger();
        QTest::mouseClick(f.Command5, Qt::LeftButton);
        QCOMPARE(h.fakes.eventLoop.waits, (QList<int64_t>{6000001, 40001}));
        // The next dialog starts with the page's path.
        f.mnuopen->trigger();
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
        const auto found = F::commands();
        QCOMPARE(found.size(), 1);
        QVERIFY(found[0].program.endsWith("/sh"));
        QCOMPARE(found[0].arguments, (QStringList{"-c", "true"}));
        qputenv("BROWSER", "no-such-browser-here");
        bool raised = false;
        try {
            F().CreateObject();
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
        QCOMPARE(prompt.InputBox("prompt", "オンラインキャプチャ", "http//:www").size(),
                 typed.size());
        // Wide enough for its title beside a window manager's buttons.
        QVERIFY2(width >= titleWidth + 100,
                 qPrintable(QStringLiteral("%1 %2").arg(width).arg(titleWidth)));
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
        loop.DoEvents();
        QVERIFY(ran);
    }
};

QTEST_MAIN(TestCapture)
#include "test_capture.moc"
