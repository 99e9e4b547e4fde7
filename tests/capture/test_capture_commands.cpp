#include "command_bench.h"

using namespace command_bench;

class TestCaptureCommands : public QObject
{
    Q_OBJECT
private slots:
    void init() { rt::resetEnd(); }

    void desktopCopyPutsTheScreenOnTheClipboard()
    {
        Bench b;
        b.fakes.screenGrabber.screen = picture(1280, 1024);
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        // The clipboard holds the screen as it was read; nothing said, the
        // document and its views untouched.
        QCOMPARE(b.fakes.clipboard.content, b.fakes.screenGrabber.screen);
        QVERIFY(b.fakes.messageBox.calls.isEmpty());
        QVERIFY(b.views.isEmpty());
        QCOMPARE(b.doc.picture().size(), QSize(64, 64));
        // A screen that cannot be read leaves the clipboard as it was, and says so.
        b.fakes.screenGrabber.screen = QImage();
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls.last().prompt,
                 QStringLiteral("画面を読み取れませんでした"));
        QCOMPARE(b.fakes.messageBox.calls.last().title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        QCOMPARE(b.fakes.clipboard.content.size(), QSize(1280, 1024));
    }

    // A desktop that refuses: why and how to allow it again, then the
    // desktop's own dialog, which the user may take or leave.
    void refusedDesktopCopyOffersTheDesktopsDialog()
    {
        Bench b;
        b.fakes.clipboard.content = picture(31, 17);
        b.fakes.screenGrabber.refused = true;
        b.fakes.screenGrabber.chosenInDialog = picture(640, 400);
        b.fakes.messageBox.answers << platform::MessageAnswer::Ok << platform::MessageAnswer::No;
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.log.size(), 4);
        QCOMPARE(b.fakes.log.last(), QStringLiteral("processEvents"));
        const auto &why = b.fakes.messageBox.calls.at(0);
        QVERIFY(why.prompt.startsWith(
            QStringLiteral("デスクトップが、このプログラムによる画面の読み取りを拒否しました。")));
        QVERIFY(why.prompt.contains(
            QStringLiteral("PermissionStore.DeletePermission screenshot screenshot ''")));
        QCOMPARE(why.style, int(platform::MessageStyle::Warning));
        const auto &offer = b.fakes.messageBox.calls.at(1);
        QCOMPARE(offer.prompt,
                 QStringLiteral("デスクトップのスクリーンショット画面で、画面を取り込みますか？"));
        QCOMPARE(offer.style, platform::MessageStyle::YesNo | platform::MessageStyle::Question);
        QCOMPARE(b.fakes.clipboard.content.size(), QSize(31, 17));
        QVERIFY(!b.fakes.log.contains("grabScreenInteractively"));

        // Yes: what the user takes in the desktop's dialog goes on the clipboard.
        b.fakes.log.clear();
        b.fakes.messageBox.answers << platform::MessageAnswer::Ok << platform::MessageAnswer::Yes;
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QVERIFY(b.fakes.log.contains("grabScreenInteractively"));
        QCOMPARE(b.fakes.clipboard.content.size(), QSize(640, 400));
        // Cancelled there: the clipboard stays, nothing more is said.
        b.fakes.screenGrabber.chosenInDialog = QImage();
        b.fakes.clipboard.content = picture(31, 17);
        b.fakes.messageBox.answers << platform::MessageAnswer::Ok << platform::MessageAnswer::Yes;
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.messageBox.calls.size(), 6);
        QCOMPARE(b.fakes.clipboard.content.size(), QSize(31, 17));
        // Left open past its bound: said, the clipboard as it was.
        b.fakes.screenGrabber.dialogTimedOut = true;
        b.fakes.messageBox.answers << platform::MessageAnswer::Ok << platform::MessageAnswer::Yes;
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.messageBox.calls.size(), 9);
        QCOMPARE(b.fakes.messageBox.calls.last().prompt,
                 QStringLiteral(
                     "デスクトップのスクリーンショット画面から、時間内に画像が届きませんでした。"
                     "クリップボードはそのままです。"));
        QCOMPARE(b.fakes.clipboard.content.size(), QSize(31, 17));
    }

    // The desktop's question unanswered in time: what happened and what to
    // do next; a wait the user left: nothing. The clipboard stays either way.
    void desktopCopyNotAnsweredOrLeft()
    {
        Bench b;
        b.fakes.clipboard.content = picture(31, 17);
        b.fakes.screenGrabber.timedOut = true;
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls[0].prompt,
                 QStringLiteral("デスクトップの確認に時間内の答えがなかったため、"
                                "画面を読み取れませんでした。クリップボードはそのままです。\n\n"
                                "もう一度「全体をクリップにコピー」を押すと、"
                                "デスクトップがもう一度確認します。"));
        QCOMPARE(b.fakes.messageBox.calls[0].style, int(platform::MessageStyle::Warning));
        b.fakes.screenGrabber.timedOut = false;
        b.fakes.screenGrabber.cancelled = true;
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.clipboard.content.size(), QSize(31, 17));
    }

    void importAdoptsTheClipboardPicture()
    {
        Bench b;
        b.doc.fileName = QStringLiteral("/kept.jpg");
        b.fakes.clipboard.content = picture(800, 97);
        capture::importClipboard(b.doc, b.fakes.clipboard);
        QCOMPARE(b.views,
                 (QStringList{"InformationWindow.showWindow", "picture 800x97", "fitToPicture"}));
        QCOMPARE(b.doc.PicWidth, 804.0f * 15);
        QCOMPARE(b.doc.PicHeight, 101 * 15);
        QCOMPARE(b.doc.fileName, QStringLiteral("/kept.jpg"));

        // Without a picture the current one stays; the window and the layout still come.
        b.views.clear();
        b.fakes.clipboard.content = QImage();
        const qint64 key = b.doc.picture().cacheKey();
        capture::importClipboard(b.doc, b.fakes.clipboard);
        QCOMPARE(b.views, (QStringList{"InformationWindow.showWindow", "fitToPicture"}));
        QCOMPARE(b.doc.picture().cacheKey(), key);
        QCOMPARE(b.doc.PicHeight, 101 * 15);
    }

    // --- browser capture ---

    void modes()
    {
        Bench b;
        QSignalSpy changed(&b.doc, &PictureDocument::offlineModeChanged);
        capture::chooseOffline(b.doc); // already offline: nothing
        QCOMPARE(changed.size(), 0);
        capture::chooseOnline(b.doc);
        QCOMPARE(b.doc.offlineMode, int16_t(0));
        capture::chooseOnline(b.doc);
        QCOMPARE(changed.size(), 1);
        capture::chooseOffline(b.doc);
        QCOMPARE(b.doc.offlineMode, int16_t(1));
        QCOMPARE(changed.size(), 2);
    }

    void offlineCaptureStepByStep()
    {
        Bench b;
        b.doc.fileName = QStringLiteral("/kept.jpg");
        b.fakes.fileChooser.answers << QStringLiteral("/pages/a.html");
        b.fakes.screenGrabber.windowPictures = {platform::drawnWindow(800, 97)};
        b.capture();
        const auto &r = b.fakes.fileChooser.requests.at(0);
        QCOMPARE(r.descriptions, QStringList{"html//htm (*.html;*.htm)"});
        QCOMPARE(r.patterns, QList<QStringList>{(QStringList{"*.html", "*.htm"})});
        QCOMPARE(r.selected, 0);
        // The browser shows the chosen page under the wait's note; the program
        // takes its front back when the capture is done.
        QVERIFY(b.fakes.log.contains(QStringLiteral("open /pages/a.html")));
        QCOMPARE(b.fakes.eventLoop.notes,
                 QStringList{QStringLiteral("ブラウザがページを表示するのを待っています…")});
        QVERIFY(b.fakes.log.contains(QStringLiteral("activate みぽＱＵＩＢＢＯ")));
        // The page is the picture, and on the clipboard too; the user hears it.
        QCOMPARE(b.doc.picture().convertToFormat(QImage::Format_RGB32),
                 platform::drawnWindow(800, 97));
        QCOMPARE(b.fakes.clipboard.content.convertToFormat(QImage::Format_RGB32),
                 platform::drawnWindow(800, 97));
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls.last().prompt, QStringLiteral("キャプチャ完了"));
        QVERIFY(b.views.contains(QStringLiteral("fitToPicture")));
        QCOMPARE(b.fakes.messageBox.calls.last().title, QStringLiteral("キャプチャ処理"));
        QCOMPARE(b.fakes.messageBox.calls.last().style, int(platform::MessageStyle::OkOnly));
        QCOMPARE(b.doc.picture().size(), QSize(800, 97));
        QCOMPARE(b.doc.PicWidth, 804.0f * 15);
        QCOMPARE(b.doc.fileName, QStringLiteral("/kept.jpg"));
        QCOMPARE(b.dialog.fileName, QStringLiteral("/pages/a.html"));
    }

    void onlineCaptureStepByStep()
    {
        Bench b;
        capture::chooseOnline(b.doc);
        b.fakes.screenGrabber.windowPictures = {platform::drawnWindow(300, 200)};
        b.capture();
        const auto &call = b.fakes.inputPrompt.calls.at(0);
        QCOMPARE(call.prompt, QStringLiteral("WWWを入力してください"));
        QCOMPARE(call.title, QStringLiteral("オンラインキャプチャ"));
        QCOMPARE(call.defaultText, QStringLiteral("http//:www"));
        // The untouched text goes to the browser as it is; the page becomes the picture.
        QVERIFY(b.fakes.log.contains(QStringLiteral("open http//:www")));
        QCOMPARE(b.doc.picture().convertToFormat(QImage::Format_RGB32),
                 platform::drawnWindow(300, 200));
        QCOMPARE(b.fakes.clipboard.content.convertToFormat(QImage::Format_RGB32),
                 platform::drawnWindow(300, 200));
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls.last().prompt, QStringLiteral("キャプチャ完了"));
        QVERIFY(b.fakes.fileChooser.requests.isEmpty());
    }

    void waitLengths()
    {
        Bench b;
        b.fakes.fileChooser.answers << QStringLiteral("/a.html") << QStringLiteral("/a.html");
        b.doc.CaptureWait = 10;
        b.capture();
        b.doc.CaptureWait = 30000;
        b.capture();
        QCOMPARE(b.fakes.eventLoop.waits, (QList<int64_t>{40001, 120000001}));
        QCOMPARE(b.fakes.browserFactory.created, 2); // two captures, two browsers
        // A wait past 32 bits is the run-time's overflow, reported online.
        capture::chooseOnline(b.doc);
        b.doc.CaptureWait = 600000;
        b.capture();
        QCOMPARE(b.fakes.messageBox.calls.last().prompt,
                 rt::RuntimeError::standardText(rt::ErrOverflow));
    }

    void cancelOrEmptyChangesNothing()
    {
        Bench b;
        const qint64 key = b.doc.picture().cacheKey();
        b.capture(); // offline, dialog cancelled
        capture::chooseOnline(b.doc);
        b.fakes.inputPrompt.answer = QString();
        b.capture(); // online, Cancel or an emptied field
        QCOMPARE(b.fakes.log, QStringList{"ask"});
        QCOMPARE(b.fakes.browserFactory.created, 0);
        QCOMPARE(b.doc.picture().cacheKey(), key);
        QVERIFY(b.fakes.messageBox.calls.isEmpty());
        // One blank is not empty: a browser opens on it.
        b.fakes.inputPrompt.answer = QStringLiteral(" ");
        b.capture();
        QVERIFY(b.fakes.log.contains("open  "));
    }

    // A cold browser: the counted wait starts only once its window is up and
    // has drawn; a window still blank at the grab is waited for too.
    void waitsForTheBrowsersDrawnWindow()
    {
        Bench b;
        b.fakes.fileChooser.answers << QStringLiteral("/a.html");
        b.fakes.browserFactory.appearsAfter = 3;
        const QImage black = picture(640, 480, Qt::black), white = picture(640, 480, Qt::white);
        QImage page = white;
        page.setPixelColor(10, 10, Qt::blue);
        b.fakes.screenGrabber.windowContents = {black, white, page};
        b.fakes.screenGrabber.windowPictures = {white, page};
        b.capture();
        // Neither the black window nor the white one is taken: the page is,
        // after the wait the slider sets.
        QCOMPARE(b.doc.picture().pixelColor(10, 10), QColor(Qt::blue));
        QCOMPARE(b.fakes.eventLoop.waits, QList<int64_t>{6000001});
        QCOMPARE(b.fakes.messageBox.calls.last().prompt, QStringLiteral("キャプチャ完了"));
    }

    // A page that never shows is not reported as captured, in either mode:
    // the bound passes (60 s of 100 ms polls), the picture stays, and the user hears why.
    void pageNotShownInTime_data()
    {
        QTest::addColumn<int>("appearsAfter");
        QTest::addColumn<bool>("drawsAtGrab");
        QTest::newRow("no window") << 0 << false;
        QTest::newRow("a window that stays black") << 1 << false;
        QTest::newRow("a window blank again at the grab") << 1 << true;
    }

    void pageNotShownInTime()
    {
        QFETCH(int, appearsAfter);
        QFETCH(bool, drawsAtGrab);
        for (const bool online : {false, true}) {
            Bench b;
            b.pageIn(online);
            b.fakes.browserFactory.appearsAfter = appearsAfter;
            const QImage black = picture(640, 480, Qt::black);
            b.fakes.screenGrabber.windowPictures = {black};
            if (drawsAtGrab)
                b.fakes.screenGrabber.windowContents = {platform::drawnWindow(640, 480)};
            const qint64 key = b.doc.picture().cacheKey();
            b.capture();
            QCOMPARE(b.fakes.eventLoop.painted, 60000);
            QCOMPARE(b.fakes.messageBox.calls.size(), 1);
            QCOMPARE(b.fakes.messageBox.calls[0].prompt,
                     QStringLiteral("ブラウザが時間内にページを表示しませんでした。"
                                    "現在の画像はそのままです。"));
            QCOMPARE(b.fakes.messageBox.calls[0].title, QStringLiteral("キャプチャ処理"));
            QCOMPARE(b.doc.picture().cacheKey(), key);
            QVERIFY(!b.fakes.log.contains("picture"));
            QVERIFY(!b.fakes.log.join(u' ').contains(QStringLiteral("setPicture")));
            QCOMPARE(b.fakes.eventLoop.waits.size(), drawsAtGrab ? 1 : 0);
        }
    }

    // Where windows cannot be told apart (the portal alone), the wait is the
    // counted one and the grab is the screen's.
    void withoutWindowsTheCountedWaitAlone()
    {
        Bench b;
        b.fakes.fileChooser.answers << QStringLiteral("/a.html");
        b.fakes.screenGrabber.windows = false;
        b.fakes.browserFactory.appearsAfter = 0;
        b.fakes.screenGrabber.windowPictures = {platform::drawnWindow(1280, 1024)};
        b.capture();
        QCOMPARE(b.fakes.eventLoop.waits, QList<int64_t>{6000001});
        QCOMPARE(b.fakes.eventLoop.painted, 0);
        QCOMPARE(b.doc.picture().convertToFormat(QImage::Format_RGB32),
                 platform::drawnWindow(1280, 1024));
        QCOMPARE(b.fakes.clipboard.content.size(), QSize(1280, 1024));
    }

    // A browser that cannot start or ends with an error is said at once, in
    // either mode; one that ends with 0 may have handed the page to a copy
    // already running, whose window is still waited for. Where no window can
    // be seen, any end of the browser means no page.
    void browserThatEnds_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("said");
        const QString kept = QStringLiteral("現在の画像はそのままです。");
        QTest::newRow("not started")
            << 127 << true << QStringLiteral("ブラウザを起動できませんでした。") + kept;
        QTest::newRow("an error") << 3 << true
                                  << QStringLiteral(
                                         "ブラウザがエラーで終了しました（終了コード 3）。") +
                                         kept;
        QTest::newRow("an error, no windows")
            << 1 << false
            << QStringLiteral("ブラウザがエラーで終了しました（終了コード 1）。") + kept;
        QTest::newRow("handed over") << 0 << true << QStringLiteral("キャプチャ完了");
        QTest::newRow("handed over, no windows")
            << 0 << false
            << QStringLiteral("ブラウザがページを表示しないまま終了しました。") + kept;
    }

    void browserThatEnds()
    {
        QFETCH(int, status);
        QFETCH(bool, windows);
        QFETCH(QString, said);
        for (const bool online : {false, true}) {
            Bench b;
            b.pageIn(online);
            b.fakes.browserFactory.exitStatus = status;
            b.fakes.browserFactory.appearsAfter = 3;
            b.fakes.screenGrabber.windows = windows;
            const qint64 key = b.doc.picture().cacheKey();
            b.capture();
            QCOMPARE(b.fakes.messageBox.calls.size(), 1);
            QCOMPARE(b.fakes.messageBox.calls[0].prompt, said);
            QCOMPARE(b.fakes.messageBox.calls[0].title, QStringLiteral("キャプチャ処理"));
            QCOMPARE(b.fakes.eventLoop.notesUp, 0);
            if (said == QStringLiteral("キャプチャ完了"))
                continue;
            QCOMPARE(b.doc.picture().cacheKey(), key);
            QVERIFY(!b.fakes.log.join(u' ').contains(QStringLiteral("setPicture")));
            // Not the page's bound: at once.
            QVERIFY(b.fakes.eventLoop.painted <= 100);
        }
    }

    // The wait's note can be left: nothing is taken and nothing is said, and
    // the browser's window stays.
    void cancelledWait()
    {
        for (const int appearsAfter : {0, 1}) {
            Bench b;
            b.fakes.fileChooser.answers << QStringLiteral("/a.html");
            b.fakes.browserFactory.appearsAfter = appearsAfter;
            b.fakes.eventLoop.cancelAfterPaints = 2;
            if (appearsAfter > 0) // cancelled in the counted wait
                b.fakes.eventLoop.cancelled = true;
            const qint64 key = b.doc.picture().cacheKey();
            b.capture();
            QCOMPARE(b.fakes.eventLoop.notes,
                     QStringList{QStringLiteral("ブラウザがページを表示するのを待っています…")});
            QCOMPARE(b.fakes.eventLoop.notesUp, 0);
            QVERIFY(b.fakes.messageBox.calls.isEmpty());
            QCOMPARE(b.doc.picture().cacheKey(), key);
            QVERIFY(!b.fakes.log.join(u' ').contains(QStringLiteral("setPicture")));
            QVERIFY(b.fakes.eventLoop.painted <= 200);
        }
    }

    // Online a failure is reported and the program goes on; offline it is
    // silent. Either way the current picture stays.
    void failuresKeepThePicture()
    {
        Bench b;
        b.fakes.clipboard.content = picture(10, 10);
        const qint64 key = b.doc.picture().cacheKey();
        capture::chooseOnline(b.doc);
        // No browser at all.
        b.fakes.browserFactory.available = false;
        b.capture();
        // A window that cannot be read: the old clipboard picture is not taken for the page.
        b.fakes.browserFactory.available = true;
        b.fakes.screenGrabber.windowPictures = {QImage()};
        b.fakes.screenGrabber.windowContents = {platform::drawnWindow(30, 30)};
        b.capture();
        QCOMPARE(b.fakes.messageBox.calls.size(), 2);
        QCOMPARE(b.fakes.messageBox.calls[0].prompt,
                 rt::RuntimeError::standardText(rt::ErrCantCreateObject));
        QCOMPARE(b.fakes.messageBox.calls[1].prompt,
                 QStringLiteral("ウィンドウを読み取れませんでした"));
        QCOMPARE(b.fakes.messageBox.calls[1].title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        QVERIFY(!rt::ended());
        capture::chooseOffline(b.doc);
        b.fakes.fileChooser.answers << QStringLiteral("/a.html") << QStringLiteral("/a.html");
        b.capture();
        b.fakes.browserFactory.available = false;
        b.capture();
        QCOMPARE(b.fakes.messageBox.calls.size(), 2);
        QCOMPARE(b.doc.picture().cacheKey(), key);
        QVERIFY(!b.fakes.log.contains("picture"));
    }
};

QTEST_GUILESS_MAIN(TestCaptureCommands)
#include "test_capture_commands.moc"
