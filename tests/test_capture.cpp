// The desktop copy, the clipboard import and the browser capture through
// doubles that write what they are asked into one log.
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

const QStringList BrowserKeys{"key 18 0 0 0", "key 44 0 0 0", "key 44 0 2 0", "key 18 0 2 0"};
} // namespace

class TestCapture : public QObject
{
    Q_OBJECT
private slots:
    void desktopCopyPressesPrintScreenOnly()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        const QSize shown = f.Image1->size();
        h.fakes.log.clear();
        QTest::mouseClick(f.Command3, Qt::LeftButton);
        QCOMPARE(h.fakes.log, (QStringList{"key 44 1 0 0", "DoEvents"}));
        QCOMPARE(f.Image1->size(), shown);
        QCOMPARE(f.PicWidth, 1020.0f);
        QVERIFY(f.FileName.isEmpty());
    }

    void importAdoptsTheClipboardPicture()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        f.FileName = QStringLiteral("/kept.jpg");
        h.f2().hide();
        h.fakes.clipboard.picture = picture(800, 97);
        QTest::mouseClick(f.Command4, Qt::LeftButton);
        QVERIFY(h.f2().isVisible()); // shown again
        QCOMPARE(h.f2().Label1->text(), QStringLiteral("NO FILE"));
        QCOMPARE(f.Picture1->picture().size(), QSize(800, 97));
        QCOMPARE(f.PicWidth, 804.0f * 15);
        QCOMPARE(f.PicHeight, 101 * 15);
        QCOMPARE(f.Image1->picture().cacheKey(), f.Picture1->picture().cacheKey());
        QCOMPARE(f.Image1->width(), 457); // the layout ran
        QCOMPARE(f.FileName, QStringLiteral("/kept.jpg"));
        // Again with the same clipboard: the same picture and size.
        f.mnuclip->trigger();
        QCOMPARE(f.Picture1->picture().size(), QSize(800, 97));
        QCOMPARE(f.PicHeight, 101 * 15);
    }

    void importWithoutAPictureKeepsTheCurrentOne()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        const qint64 key = f.Picture1->picture().cacheKey();
        f.mnuclip->trigger();
        QCOMPARE(f.Picture1->picture().cacheKey(), key);
        QCOMPARE(f.PicWidth, 1020.0f);
        QVERIFY(h.unhandled.isEmpty());
    }

    void modes()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        f.mnuoff->trigger(); // already offline: nothing
        QVERIFY(f.mnuoff->isChecked() && !f.mnuon->isChecked());
        QCOMPARE(f.IEMode, int16_t(1));
        f.mnuon->trigger();
        QVERIFY(!f.mnuoff->isChecked() && f.mnuon->isChecked());
        QCOMPARE(f.IEMode, int16_t(0));
        f.mnuon->trigger();
        QVERIFY(f.mnuon->isChecked());
        QCOMPARE(f.IEMode, int16_t(0));
        f.mnuoff->trigger();
        QVERIFY(f.mnuoff->isChecked() && !f.mnuon->isChecked());
        QCOMPARE(f.IEMode, int16_t(1));
    }

    void offlineCaptureStepByStep()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        f.FileName = QStringLiteral("/kept.jpg");
        h.fakes.fileChooser.answers << QStringLiteral("/pages/a.html");
        h.fakes.clipboard.picture = picture(800, 97);
        QSize atMessage;
        h.fakes.messageBox.onShow = [&](const auto &) { atMessage = f.Image1->size(); };
        h.fakes.log.clear();
        f.mnuie->trigger();

        const auto &r = h.fakes.fileChooser.requests.at(0);
        QCOMPARE(r.descriptions, QStringList{"html//htm (*.html;*.htm)"});
        QCOMPARE(r.patterns, QList<QStringList>{(QStringList{"*.html", "*.htm"})});
        QCOMPARE(r.selected, 0);
        QStringList expected{"CreateObject", "Visible 1", "Navigate /pages/a.html"};
        expected += BrowserKeys;
        expected += QStringList{"Visible 1",
                                "DoEvents",
                                "Visible 1",
                                "GetData",
                                "Visible 1",
                                "AppActivate みぽＱＵＩＢＢＯ",
                                "MsgBox キャプチャ完了"};
        QCOMPARE(h.fakes.log, expected);
        QCOMPARE(h.fakes.eventLoop.passes, 6000001);
        QCOMPARE(h.fakes.messageBox.calls.last().title, QStringLiteral("キャプチャ処理"));
        QCOMPARE(h.fakes.messageBox.calls.last().style, int(platform::vbOKOnly));
        // The layout runs after the message: at the message the picture had its old size.
        QCOMPARE(atMessage, QSize(187, 187));
        QCOMPARE(f.Image1->width(), 457);
        QCOMPARE(f.Picture1->picture().size(), QSize(800, 97));
        QCOMPARE(f.FileName, QStringLiteral("/kept.jpg"));
        // The next dialog starts with the page's path.
        f.mnuopen->trigger();
        QCOMPARE(h.fakes.fileChooser.requests.last().startPath, QStringLiteral("/pages/a.html"));
    }

    void onlineCaptureStepByStep()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        f.mnuon->trigger();
        h.fakes.clipboard.picture = picture(300, 200);
        h.fakes.log.clear();
        QTest::mouseClick(f.Command5, Qt::LeftButton);
        const auto &call = h.fakes.inputPrompt.calls.at(0);
        QCOMPARE(call.prompt, QStringLiteral("WWWを入力してください"));
        QCOMPARE(call.title, QStringLiteral("オンラインキャプチャ"));
        QCOMPARE(call.defaultText, QStringLiteral("http//:www"));
        QStringList expected{"InputBox", "CreateObject", "Visible 1", "Navigate http//:www"};
        expected += BrowserKeys;
        expected += QStringList{"DoEvents", "GetData", "AppActivate みぽＱＵＩＢＢＯ",
                                "MsgBox キャプチャ完了"};
        QCOMPARE(h.fakes.log, expected); // "Visible" once; the untouched text unchanged
        QVERIFY(h.fakes.fileChooser.requests.isEmpty());
    }

    void waitLengths()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        h.fakes.fileChooser.answers << QStringLiteral("/a.html") << QStringLiteral("/a.html");
        f.HScroll1->setValue(1);
        f.Command5_Click();
        QCOMPARE(h.fakes.eventLoop.passes, 40001);
        f.HScroll1->setValue(3000);
        h.fakes.eventLoop.passes = 0;
        f.Command5_Click();
        QCOMPARE(h.fakes.eventLoop.passes, 120000001);
        QCOMPARE(h.fakes.browserFactory.created, 2); // two captures, two browsers
    }

    void cancelOrEmptyChangesNothing()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        const qint64 key = f.Picture1->picture().cacheKey();
        h.fakes.log.clear();
        f.Command5_Click(); // offline, dialog cancelled
        f.mnuon->trigger();
        h.fakes.inputPrompt.answer = QString();
        f.Command5_Click(); // online, Cancel or an emptied field
        QCOMPARE(h.fakes.log, QStringList{"InputBox"});
        QCOMPARE(h.fakes.browserFactory.created, 0);
        QCOMPARE(f.Picture1->picture().cacheKey(), key);
        QVERIFY(h.fakes.messageBox.calls.isEmpty());

        // One blank is not empty: a browser opens on it.
        h.fakes.inputPrompt.answer = QStringLiteral(" ");
        f.Command5_Click();
        QVERIFY(h.fakes.log.contains("Navigate  "));
    }

    void onlineErrorsAreReportedAndTheProgramGoesOn()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        f.mnuon->trigger();
        h.fakes.browserFactory.available = false;
        const qint64 key = f.Picture1->picture().cacheKey();
        f.mnuie->trigger();
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt,
                 rt::RuntimeError::standardText(rt::ErrCantCreateObject));
        QCOMPARE(h.fakes.messageBox.calls[0].title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        QVERIFY(!rt::ended());
        QVERIFY(h.unhandled.isEmpty());
        QCOMPARE(f.Picture1->picture().cacheKey(), key);

        // Offline, the same failure ends the capture silently.
        f.mnuoff->trigger();
        h.fakes.fileChooser.answers << QStringLiteral("/a.html");
        f.mnuie->trigger();
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
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
        QTimer::singleShot(0, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *line = w->findChild<QLineEdit *>(); line && w->isVisible()) {
                    line->setText(typed);
                    QMetaObject::invokeMethod(w, "accept");
                }
        });
        platform::QtInputPrompt prompt;
        QCOMPARE(prompt.InputBox("prompt", "title", "http//:www").size(), typed.size());
    }

    void pacedPassesTakeAboutHalfAMicrosecond()
    {
        platform::QtEventLoop loop;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 400001; ++i)
            loop.pass();
        // 0.2 s planned; only a gross error in the pacing would miss this.
        QVERIFY2(t.elapsed() >= 150 && t.elapsed() < 2000,
                 qPrintable(QString::number(t.elapsed())));
    }
};

QTEST_MAIN(TestCapture)
#include "test_capture.moc"
