// The main window and the picture information window with test doubles for
// the platform, on an X server without a window manager (geometry changes
// take effect at once there).
#include "harness.h"
#include "platform/picture_io/picture_loader.h"

#include <QDialog>
#include <QImageWriter>
#include <QMimeData>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>

namespace
{
int px(float twips)
{
    return rt::twipsToPixels(twips);
}

// Resizes the main window so that its outer height is the given number of
// pixels, as a user dragging its lower edge would.
void setOuterHeight(MainWindow &f, int outer)
{
    f.resize(f.width(), outer - (f.frameGeometry().height() - f.height()));
    QCoreApplication::processEvents();
}

QStringList captions(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void startUpState()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("1500"));
        QCOMPARE(h.doc().CaptureWait, 1500);
        QCOMPARE(f.captureWaitBar->toolTip(), QStringLiteral("待ち時間: 3.0 秒"));
        QCOMPARE(f.captureWaitBar->value(), 1500);
        QCOMPARE(h.doc().JpegQuality(), 50);
        QCOMPARE(h.doc().offlineMode, int16_t(1));
        QVERIFY(h.doc().fileName.isEmpty());
        QCOMPARE(h.doc().PicWidth, 1020.0f);
        QCOMPARE(h.doc().PicHeight, 1020);
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("NO FILE"));
        QCOMPARE(h.f2().qualityLabel->text(), QStringLiteral("50"));
        QCOMPARE(h.f2().resolutionTitle->text(), QStringLiteral("解像度"));
        QCOMPARE(h.f2().qualityBar->value(), 50);
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
        QVERIFY(h.unhandled.isEmpty());
        QVERIFY(!rt::ended());

        // Captions and geometry.
        QCOMPARE(f.windowTitle(), QStringLiteral("みぽＱＵＩＢＢＯ－IEキャプチャ機能付"));
        QCOMPARE(h.f2().windowTitle(), QStringLiteral("ファイルネーム"));
        QCOMPARE(f.centralWidget()->size(), QSize(457, 244));
        QCOMPARE(f.centralWidget()->mapToGlobal(QPoint(0, 0)), QPoint(257, 138));
        QCOMPARE(h.f2().size(), QSize(262, 113));
        QCOMPARE(h.f2().geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
        QVERIFY(h.f2().windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!f.windowIcon().isNull());
        QVERIFY(!f.pictureBox->isVisible());
        QCOMPARE(f.pictureBox->size(), QSize(68, 68));
        QCOMPARE(f.pictureBox->picture().size(), QSize(64, 64));

        // The picture information window: ellipse inscribed in 262 x 113, off the task bar.
        QCOMPARE(h.fakes.windowShape.regions.size(), 1);
        const QRect region = h.fakes.windowShape.regions.first();
        QCOMPARE(region.topLeft(), QPoint(0, 0));
        QCOMPARE(region.bottomRight(), QPoint(262, 113));
        QCOMPARE(h.fakes.windowShape.taskbarSkips, 1);

        // The first layout came from the first display: the logo fitted to the
        // height below the toolbar strip, which spans the width.
        QCOMPARE(f.toolStrip->width(), 457);
        QCOMPARE(f.pictureView->pos(), QPoint(0, 56));
        QCOMPARE(f.pictureView->size(), QSize(187, 187));
        QCOMPARE(f.pictureView->picture().cacheKey(), h.doc().shownPicture().cacheKey());
    }

    void menusAndTheirKeys()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        QCOMPARE(captions(f.menuBar()->actions()),
                 (QStringList{"ファイル(&F)", "編集(&A)", "ウィンドウ(&W)"}));
        QCOMPARE(captions(f.fileMenu->actions()),
                 (QStringList{"開く(&O)", "保存(&S)", "終了(&E)"}));
        QCOMPARE(captions(f.editMenu->actions()),
                 (QStringList{"全体をクリップにコピー", "クリップボードの画像を取り込む",
                              "IEブラウザキャプチャ", "-", "ＩＥオフライン", "ＩＥオンライン"}));
        QCOMPARE(captions(f.windowMenu->actions()),
                 (QStringList{"画質の比較(&C)", "バージョン情報(&B)"}));
        // The usual keys beside the mnemonics, on these items alone.
        const QMap<QAction *, QString> keys{{f.openItem, "Ctrl+O"},
                                            {f.saveItem, "Ctrl+S"},
                                            {f.quitItem, "Ctrl+Q"},
                                            {f.compareItem, "Ctrl+K"}};
        for (QMenu *menu : {f.fileMenu, f.editMenu, f.windowMenu})
            for (QAction *a : menu->actions()) {
                QCOMPARE(a->shortcut(), QKeySequence(keys.value(a)));
                QVERIFY(a->isEnabled());
            }
        QVERIFY(f.offlineItem->isChecked());
        QVERIFY(!f.onlineItem->isChecked());
        // An unchecked item shows no check box at all.
        QVERIFY(!f.onlineItem->isCheckable());
        QVERIFY(f.menuSeparator->isSeparator());

        // Triggering an item leaves its check mark to the handlers: the
        // offline item, chosen while offline, stays checked.
        f.offlineItem->trigger();
        QVERIFY(f.offlineItem->isChecked());
        QVERIFY(!f.onlineItem->isChecked());
        QVERIFY(!rt::ended());
    }

    void toolbarButtonsAndSlider()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        const QList<QPushButton *> buttons{f.openButton, f.saveButton, f.copyDesktopButton,
                                           f.importClipboardButton, f.browserButton};
        // One row of square picture buttons of one size, left to right in
        // the order of the menus, apart from each other, inside the strip.
        const QRect strip = f.toolStrip->contentsRect();
        for (int i = 0; i < buttons.size(); ++i) {
            const QRect r = buttons[i]->geometry();
            QCOMPARE(r.width(), r.height());
            QVERIFY(r.width() >= 32);
            QCOMPARE(r.size(), buttons[0]->size());
            QCOMPARE(r.top(), buttons[0]->y());
            QVERIFY2(strip.contains(r), qPrintable(QString::number(i)));
            if (i > 0)
                QVERIFY(r.left() > buttons[i - 1]->geometry().right() + 1);
            QVERIFY(buttons[i]->text().isEmpty());
            QVERIFY(!buttons[i]->icon().isNull());
        }
        // What each does, for the new user pointing at it.
        QStringList tips;
        for (const QPushButton *b : buttons)
            tips << b->toolTip();
        QCOMPARE(tips,
                 (QStringList{"画像ファイルを開く", "JPEGで保存",
                              "デスクトップ全体をクリップボードにコピー",
                              "クリップボードの画像を取り込む", "ブラウザのページをキャプチャ"}));
        // Right of the buttons: the wait's title over its number and its
        // slider, all inside the strip, none over another.
        QCOMPARE(f.captureWaitTitle->text(), QStringLiteral("ＩＥキャプチャＴＩＭＥバー"));
        QCOMPARE(f.captureWaitTitle->font().pointSizeF(), 8.25);
        const QList<QWidget *> wait{f.captureWaitTitle, f.captureWaitLabel, f.captureWaitBar};
        for (int i = 0; i < wait.size(); ++i) {
            QVERIFY(strip.contains(wait[i]->geometry()));
            QVERIFY(wait[i]->x() > f.browserButton->geometry().right());
            // (The number's box and the slider share their edge row.)
            if (i > 0)
                QVERIFY(wait[i]->y() >= wait[i - 1]->geometry().bottom());
        }
        QCOMPARE(f.captureWaitBar->x(), f.captureWaitTitle->x());
        QVERIFY(f.captureWaitBar->width() > f.captureWaitTitle->width());

        // The browser button shows its lighter picture only while held down.
        const qint64 normal = f.browserButton->icon().cacheKey();
        QTest::mousePress(f.browserButton, Qt::LeftButton);
        QVERIFY(f.browserButton->icon().cacheKey() != normal);
        QTest::mouseRelease(f.browserButton, Qt::LeftButton);
        QCOMPARE(f.browserButton->icon().cacheKey(), normal);

        // The hand pointer over the picture and nowhere else.
        QCOMPARE(f.pictureView->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(f.pictureView->cursor().hotSpot(), QPoint(6, 0));
        QCOMPARE(f.centralWidget()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(f.toolStrip->cursor().shape(), Qt::ArrowCursor);

        // Focus order: the strip, the five buttons, the slider.
        QWidget *w = f.toolStrip;
        for (QWidget *next : std::initializer_list<QWidget *>{
                 f.openButton, f.saveButton, f.copyDesktopButton, f.importClipboardButton,
                 f.browserButton, f.captureWaitBar}) {
            do
                w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus);
            QCOMPARE(w, next);
        }
    }

    void captureWaitSliderReactsToChangesOnly()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        f.captureWaitBar->setFocus();
        QTest::keyClick(f.captureWaitBar, Qt::Key_Home);
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("1"));
        QCOMPARE(h.doc().CaptureWait, 10);
        QCOMPARE(f.captureWaitBar->toolTip(), QStringLiteral("待ち時間: 0.02 秒"));
        QTest::keyClick(f.captureWaitBar, Qt::Key_End);
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("3000"));
        QCOMPARE(h.doc().CaptureWait, 30000);
        QCOMPARE(f.captureWaitBar->toolTip(), QStringLiteral("待ち時間: 60.0 秒"));
        // Left and up step down, right and down step up, as on any scroll bar.
        QTest::keyClick(f.captureWaitBar, Qt::Key_Left);
        QCOMPARE(h.doc().CaptureWait, 29990);
        QTest::keyClick(f.captureWaitBar, Qt::Key_Up);
        QTest::keyClick(f.captureWaitBar, Qt::Key_PageUp);
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("2997"));
        QTest::keyClick(f.captureWaitBar, Qt::Key_Right);
        QTest::keyClick(f.captureWaitBar, Qt::Key_PageDown);
        QTest::keyClick(f.captureWaitBar, Qt::Key_Down);
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("3000"));
        // Back to the start-up position gives ten times the value, not 1500.
        f.captureWaitBar->setValue(1500);
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("1500"));
        QCOMPARE(h.doc().CaptureWait, 15000);

        // A dragged thumb changes nothing until it is released.
        f.captureWaitBar->setSliderDown(true);
        f.captureWaitBar->setSliderPosition(200);
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("1500"));
        QCOMPARE(h.doc().CaptureWait, 15000);
        f.captureWaitBar->setSliderDown(false);
        QCOMPARE(f.captureWaitLabel->text(), QStringLiteral("200"));
        QCOMPARE(h.doc().CaptureWait, 2000);

        // A click on the track steps by one.
        QTest::mouseClick(f.captureWaitBar, Qt::LeftButton, {},
                          QPoint(f.captureWaitBar->width() - 20, 4));
        QCOMPARE(f.captureWaitBar->value(), 201);
        QCOMPARE(h.doc().CaptureWait, 2010);
    }

    void qualitySliderSetsJpegQuality()
    {
        Harness h;
        h.start();
        InformationWindow &f = h.f2();
        f.qualityBar->setFocus();
        QTest::keyClick(f.qualityBar, Qt::Key_Home);
        QCOMPARE(f.qualityLabel->text(), QStringLiteral("0"));
        QCOMPARE(h.doc().JpegQuality(), 0);
        QTest::keyClick(f.qualityBar, Qt::Key_End);
        QCOMPARE(f.qualityLabel->text(), QStringLiteral("100"));
        QCOMPARE(h.doc().JpegQuality(), 100);
        f.qualityBar->setSliderDown(true);
        f.qualityBar->setSliderPosition(30);
        QCOMPARE(h.doc().JpegQuality(), 100);
        f.qualityBar->setSliderDown(false);
        QCOMPARE(h.doc().JpegQuality(), 30);
        QCOMPARE(f.qualityLabel->text(), QStringLiteral("30"));
        QCOMPARE(f.qualityBar->focusPolicy(), Qt::StrongFocus);
        for (QLabel *l : {f.fileNameLabel, f.qualityLabel, f.resolutionTitle})
            QCOMPARE(l->focusPolicy(), Qt::NoFocus);
    }

    void onlyALeftPressOnTheBackgroundDrags()
    {
        Harness h;
        h.start();
        InformationWindow &f = h.f2();
        const QPoint background(20, 56);
        QCOMPARE(f.childAt(background), nullptr);
        QTest::mousePress(&f, Qt::RightButton, {}, background);
        QTest::mouseRelease(&f, Qt::RightButton, {}, background);
        QTest::mousePress(&f, Qt::MiddleButton, {}, background);
        QTest::mouseRelease(&f, Qt::MiddleButton, {}, background);
        QCOMPARE(h.fakes.windowShape.drags, 0);
        for (QLabel *l : {f.fileNameLabel, f.qualityLabel, f.resolutionTitle}) {
            QTest::mousePress(l, Qt::LeftButton, {}, QPoint(3, 3));
            QTest::mouseRelease(l, Qt::LeftButton, {}, QPoint(3, 3));
        }
        QTest::mousePress(f.qualityBar, Qt::LeftButton, {}, QPoint(40, 4));
        QTest::mouseRelease(f.qualityBar, Qt::LeftButton, {}, QPoint(40, 4));
        QCOMPARE(h.fakes.windowShape.drags, 0);
        QTest::mousePress(&f, Qt::LeftButton, Qt::ShiftModifier, background);
        QCOMPARE(h.fakes.windowShape.drags, 1);
        QTest::mouseRelease(&f, Qt::LeftButton, {}, background);
    }

    void layoutThroughRealResizes()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        const int menu = f.menuBar()->height();
        auto fitted = [&](int outer) {
            // Square logo fitted to the height below the strip.
            const int inner = outer - (f.frameGeometry().height() - f.height()) - menu;
            return QSize(inner - 57, inner - 57);
        };

        // 2000 twips snaps back to 3000, and the picture is fitted there.
        setOuterHeight(f, 133);
        QCOMPARE(f.frameGeometry().height(), 200);
        QCOMPARE(f.Height(), 3000.0f);
        QCOMPARE(f.pictureView->size(), fitted(200));

        // Exactly 3000: fitted, and stays.
        setOuterHeight(f, 260);
        setOuterHeight(f, 200);
        QCOMPARE(f.frameGeometry().height(), 200);
        QCOMPARE(f.pictureView->size(), fitted(200));

        // 1000 twips (66.7 px) is the lowest height that snaps.
        setOuterHeight(f, 67);
        QCOMPARE(f.frameGeometry().height(), 200);

        // Below 1000 twips the window stays and the picture keeps its size.
        setOuterHeight(f, 300);
        const QSize before = f.pictureView->size();
        setOuterHeight(f, 66);
        QCOMPARE(f.frameGeometry().height(), 66);
        QCOMPARE(f.pictureView->size(), before);
        // The strip spans the width at any height.
        f.resize(600, f.height());
        QCoreApplication::processEvents();
        QCOMPARE(f.toolStrip->width(), 600);
        QCOMPARE(f.toolStrip->height(), 57);
        QCOMPARE(f.pictureView->size(), before);
        f.resize(380, 400);
        QCoreApplication::processEvents();
        QCOMPARE(f.toolStrip->width(), 380);
        // No toolbar control moved.
        QCOMPARE(f.browserButton->pos(), QPoint(202, 10));
        QCOMPARE(f.captureWaitBar->pos(), QPoint(258, 42));
        QVERIFY(h.unhandled.isEmpty());
    }

    void layoutFitsWideAndTallPictures()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        f.resize(457, 244 + f.menuBar()->height());
        QCoreApplication::processEvents();
        const double W = f.ScaleWidth(), S = f.ScaleHeight(), T = f.toolStrip->Height();

        // Wide: as wide as the window, aspect kept.
        adopt(h.doc(), 400, 100);
        f.fitToPicture();
        QCOMPARE(f.pictureView->width(), 457);
        QCOMPARE(f.pictureView->height(), px(W * 104 / 404));

        // Tall: as tall as the window below the strip, narrower than the window.
        adopt(h.doc(), 100, 400);
        f.fitToPicture();
        QCOMPARE(f.pictureView->height(), px(S - T));
        QCOMPARE(f.pictureView->width(), px((S - T) * 104 / 404));
        QVERIFY(f.pictureView->width() < f.width());

        // Width-fitted height between S - T and S: the width fit stays and
        // the picture reaches below the window's lower edge.
        adopt(h.doc(), 200, 96);
        const double h100 = W * 100 / 204;
        QVERIFY(h100 > S - T && h100 <= S);
        f.fitToPicture();
        QCOMPARE(f.pictureView->width(), 457);
        QCOMPARE(f.pictureView->height(), px(h100));
        QVERIFY(f.pictureView->geometry().bottom() >= f.centralWidget()->height());
        QCOMPARE(f.pictureView->pos(), QPoint(0, 56));
        // The layout changes nothing in the state record.
        QCOMPARE(h.doc().PicWidth, 204.0f * 15);
        QCOMPARE(h.doc().PicHeight, 100 * 15);
    }

    void layoutKeepsThePictureWhenThereIsNoRoom()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        const QSize before = f.pictureView->size();
        // A zero inner width at a tall outer height would divide by zero.
        f.setMinimumSize(0, 0);
        f.resize(0, 400);
        f.fitToPicture();
        QCOMPARE(f.pictureView->size(), before);
        QVERIFY(h.unhandled.isEmpty());
        f.resize(457, 300);
        QCoreApplication::processEvents();

        // Minimised: the layout changes nothing, not even the height.
        f.showMinimized();
        QCoreApplication::processEvents();
        QVERIFY(f.isMinimized());
        f.resize(300, 100);
        f.fitToPicture();
        QCOMPARE(f.height(), 100);
        QVERIFY(h.unhandled.isEmpty());
        QVERIFY(!rt::ended());
    }

    void zeroPictureWidthIsAnUnhandledError()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        h.doc().PicWidth = 0;
        // Called directly, the error reaches the caller.
        bool raised = false;
        try {
            f.fitToPicture();
        } catch (const rt::RuntimeError &e) {
            raised = e.number() == rt::ErrOverflow;
        }
        QVERIFY(raised);
        // Raised by a real resize, it is shown and ends the program.
        f.resize(f.width() + 10, f.height());
        QCoreApplication::processEvents();
        QCOMPARE(h.unhandled, QStringList{rt::RuntimeError::standardText(rt::ErrOverflow)});
        QCOMPARE(h.quitStatus, 1);
    }

    void pictureClickBeforeAnyFile()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        const QSize before = f.pictureView->size();
        QTest::mouseClick(f.pictureView, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(h.f2().fileNameLabel->text(), QString());
        QVERIFY(h.f2().isVisible());
        QCOMPARE(f.pictureView->size(), before);
        // Other buttons do not click it.
        h.f2().fileNameLabel->setText(QStringLiteral("x"));
        QTest::mouseClick(f.pictureView, Qt::RightButton, {}, QPoint(10, 10));
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("x"));
    }

    void secondInstanceReportsAndEnds()
    {
        Harness h;
        h.fakes.singleInstance.running = true;
        h.start();
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, QStringLiteral("既に起動されています"));
        QCOMPARE(h.fakes.messageBox.calls[0].title, QStringLiteral("二重起動"));
        QCOMPARE(h.fakes.messageBox.calls[0].style, int(platform::MessageStyle::OkOnly));
        QVERIFY(rt::ended());
        QCOMPARE(rt::endStatus(), 0);
        QVERIFY(!h.program->informationWindowSlot().loaded());
        QVERIFY(!h.program->mainWindowSlot().loaded() || !h.f1().isVisible());
        QVERIFY(h.unhandled.isEmpty());
    }

    void endFromTheMenuLeavesTheInformationWindowLoaded()
    {
        Harness h;
        h.start();
        h.f1().quitItem->trigger();
        QVERIFY(rt::ended());
        QCOMPARE(h.quitStatus, 0);
        QVERIFY(h.program->informationWindowSlot().loaded());
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
    }

    void closingTheMainWindowUnloadsTheInformationWindowFirst()
    {
        Harness h;
        h.start();
        h.f1().close();
        QVERIFY(rt::ended());
        QCOMPARE(h.quitStatus, 0);
        QVERIFY(!h.program->informationWindowSlot().loaded());
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
    }

    void windowsAreCreatedAfreshAfterUnload()
    {
        Harness h;
        h.start();
        h.f2().fileNameLabel->setText(QStringLiteral("C:/x.jpg"));
        h.f2().qualityBar->setValue(80);
        h.program->informationWindowSlot().unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!h.program->informationWindowSlot().loaded());
        InformationWindow &again = h.f2(); // loads it again
        QVERIFY(h.program->informationWindowSlot().loaded());
        QCOMPARE(again.fileNameLabel->text(), QString());
        QCOMPARE(again.qualityBar->value(), 50);
        QCOMPARE(again.qualityLabel->text(), QStringLiteral("80")); // its load shows JpegQuality
        QCOMPARE(h.fakes.windowShape.regions.size(), 2);
    }

    // A dropped file opens as Open opens one; text and other addresses are refused.
    void dropAFile()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        h.fakes.pictureLoader.pictures["/drop/a.png"] = QImage(120, 60, QImage::Format_RGB32);
        const auto drag = [&](QMimeData *data) {
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&f, &enter);
            return enter.isAccepted();
        };
        QMimeData text;
        text.setText(QStringLiteral("/drop/a.png"));
        QVERIFY(!drag(&text));
        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.invalid/a.png"))});
        QVERIFY(!drag(&web));
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(QStringLiteral("/drop/a.png")),
                       QUrl::fromLocalFile(QStringLiteral("/drop/b.png"))});
        QVERIFY(drag(&files));
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&f, &drop);
        QCOMPARE(h.fakes.pictureLoader.loaded, QStringList{"/drop/a.png"}); // the first only
        QCOMPARE(h.doc().fileName, QStringLiteral("/drop/a.png"));
        QCOMPARE(f.pictureBox->picture().size(), QSize(120, 60));
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("/drop/a.png"));
    }

    // A second start with a file hands it over and ends without a word; one
    // that cannot hand over says so as before.
    void secondStartWithAFile()
    {
        Harness h;
        h.fakes.singleInstance.running = true;
        h.program->start(QStringLiteral("/photos/x.jpg"));
        QVERIFY(rt::ended());
        QCOMPARE(h.unhandled, QStringList());
        QCOMPARE(h.fakes.singleInstance.handedOver, QStringList{"/photos/x.jpg"});
        QVERIFY(h.fakes.messageBox.calls.isEmpty());

        Harness unreachable;
        unreachable.fakes.singleInstance.running = true;
        unreachable.fakes.singleInstance.reachable = false;
        unreachable.program->start(QStringLiteral("/photos/x.jpg"));
        QVERIFY(rt::ended());
        QCOMPARE(unreachable.fakes.messageBox.calls.size(), 1);
        QCOMPARE(unreachable.fakes.messageBox.calls[0].title, QStringLiteral("二重起動"));
    }

    // The first start with a file opens it; files handed over later too.
    void startWithAFileAndTakeMore()
    {
        Harness h;
        h.fakes.pictureLoader.pictures["/photos/x.jpg"] = QImage(40, 30, QImage::Format_RGB32);
        h.fakes.pictureLoader.pictures["/photos/y.jpg"] = QImage(50, 20, QImage::Format_RGB32);
        h.program->start(QStringLiteral("/photos/x.jpg"));
        QVERIFY(QTest::qWaitForWindowExposed(&h.f1(), 30000));
        QCOMPARE(h.doc().fileName, QStringLiteral("/photos/x.jpg"));
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("/photos/x.jpg"));
        QVERIFY(h.fakes.singleInstance.accept);
        h.fakes.singleInstance.accept(QStringLiteral("/photos/y.jpg"));
        QCOMPARE(h.doc().fileName, QStringLiteral("/photos/y.jpg"));
        QCOMPARE(h.f1().pictureBox->picture().size(), QSize(50, 20));
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
    }

    // A file handed over or dropped while a modal box is up waits until it is
    // gone; one that cannot be opened is said so, as those ways have no dialog.
    void filesFromOutsideWaitForModalBoxes()
    {
        Harness h;
        h.fakes.pictureLoader.pictures["/photos/y.jpg"] = QImage(50, 20, QImage::Format_RGB32);
        h.start();
        QDialog box(&h.f1());
        QString whileUp;
        QTimer::singleShot(0, [&] {
            h.fakes.singleInstance.accept(QStringLiteral("/photos/y.jpg"));
            QTest::qWait(300);
            whileUp = h.doc().fileName;
            box.reject();
        });
        box.exec();
        QCOMPARE(whileUp, QString());
        QTRY_COMPARE(h.doc().fileName, QStringLiteral("/photos/y.jpg"));

        h.fakes.singleInstance.accept(QStringLiteral("/notes/readme.txt"));
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt,
                 QStringLiteral("/notes/readme.txt は読める画像ではありません"
                                "（壊れているか大きすぎます）"));
        QCOMPARE(h.fakes.messageBox.calls[0].title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        // The picture and its name stay: a Save now offers y.jpg, not the notes.
        QCOMPARE(h.doc().fileName, QStringLiteral("/photos/y.jpg"));
        QCOMPARE(h.f1().pictureBox->picture().size(), QSize(50, 20));
    }

    // A large photo decodes while both windows keep painting; a file handed
    // over meanwhile opens after it, not in the middle of it.
    void windowsPaintWhileAPictureOpens()
    {
        QTemporaryDir dir;
        const QString big = dir.filePath("big.jpg");
        const QString small = dir.filePath("small.png");
        {
            QImage noise(3000, 2000, QImage::Format_RGB32);
            auto *words = reinterpret_cast<quint32 *>(noise.bits());
            QRandomGenerator(7).fillRange(words, noise.sizeInBytes() / 4);
            QImageWriter writer(big, "jpeg");
            writer.setQuality(95);
            writer.setProgressiveScanWrite(true);
            QVERIFY(writer.write(noise));
            QVERIFY(QImage(40, 30, QImage::Format_RGB32).save(small));
        }
        platform::QtPictureLoader loader;
        Harness h([&](platform::Services &s) { s.pictureLoader = &loader; });
        h.start();
        struct PaintCount : QObject {
            int paints = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                paints += e->type() == QEvent::Paint;
                return false;
            }
        } mainWindow, qualityWindow;
        h.f1().installEventFilter(&mainWindow);
        h.f2().installEventFilter(&qualityWindow);
        QString openWhileDecoding = QStringLiteral("not yet");
        QTimer::singleShot(0, [&] {
            openWhileDecoding = h.doc().fileName;
            h.f1().update();
            h.f2().update();
            h.fakes.singleInstance.accept(small);
        });
        h.f1().openGivenFile(big);
        // The timer ran during the open, before the document took anything.
        QCOMPARE(openWhileDecoding, QString());
        QVERIFY(mainWindow.paints > 0);
        QVERIFY(qualityWindow.paints > 0);
        QCOMPARE(h.doc().fileName, big);
        QCOMPARE(h.f1().pictureBox->picture().size(), QSize(3000, 2000));
        QTRY_COMPARE(h.doc().fileName, small);
        QCOMPARE(h.f1().pictureBox->picture().size(), QSize(40, 30));
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
    }

    // The size read-out: its words, and its place inside the ellipse beside the
    // quality number, covering no other control.
    void sizeReadOut()
    {
        QCOMPARE(InformationWindow::sizeText(PictureDocument::JpegSizeComing), QStringLiteral("…"));
        QCOMPARE(InformationWindow::sizeText(PictureDocument::NoJpegSize), QString());
        QCOMPARE(InformationWindow::sizeText(100), QStringLiteral("約 1 KB"));
        QCOMPARE(InformationWindow::sizeText(126000), QStringLiteral("約 123 KB"));
        QCOMPARE(InformationWindow::sizeText(qint64(999) * 1024), QStringLiteral("約 999 KB"));
        QCOMPARE(InformationWindow::sizeText(1000 * 1024 - 1), QStringLiteral("約 1.0 MB"));
        QCOMPARE(InformationWindow::sizeText(2621440), QStringLiteral("約 2.5 MB"));
        QCOMPARE(InformationWindow::sizeText(qint64(461) << 20), QStringLiteral("約 461 MB"));
        Harness h;
        h.start();
        InformationWindow &f = h.f2();
        QTRY_VERIFY(f.SizeLabel->text().startsWith(QStringLiteral("約 ")));
        QCOMPARE(f.SizeLabel->text(), InformationWindow::sizeText(h.doc().jpegSize()));
        const QRect r = f.SizeLabel->geometry();
        for (const QWidget *w :
             {static_cast<QWidget *>(f.fileNameLabel), static_cast<QWidget *>(f.qualityLabel),
              static_cast<QWidget *>(f.resolutionTitle), static_cast<QWidget *>(f.qualityBar)})
            QVERIFY2(!r.intersects(w->geometry()), qPrintable(w->objectName()));
        const double a = f.width() / 2.0, b = f.height() / 2.0;
        for (const QPoint p : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
            const double dx = (p.x() - a) / a, dy = (p.y() - b) / b;
            QVERIFY2(dx * dx + dy * dy < 1.0,
                     qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
        }
        // A new quality: the size is read out again (the double's sizes tell
        // the qualities apart, which the rounded text may not) and shown.
        QVERIFY(h.doc().jpegSize() != 64 * 64 + 90);
        f.qualityBar->setValue(90);
        QTRY_COMPARE(h.doc().jpegSize(), qint64(64 * 64 + 90));
        QCOMPARE(f.SizeLabel->text(), InformationWindow::sizeText(64 * 64 + 90));
        // The slider carries it for a screen reader.
        QCOMPARE(f.qualityBar->accessibleDescription(),
                 QStringLiteral("JPEG の大きさ ") + InformationWindow::sizeText(64 * 64 + 90));
    }

    // Each slider shows when it has the keyboard.
    void slidersShowTheFocus()
    {
        Harness h;
        h.start();
        for (QScrollBar *slider : {h.f1().captureWaitBar, h.f2().qualityBar}) {
            QWidget *window = slider->window();
            window->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), window);
            h.f1().openButton->setFocus();
            window->setFocus();
            slider->clearFocus();
            QTRY_VERIFY(!slider->hasFocus());
            const QImage without = slider->grab().toImage();
            slider->setFocus(Qt::TabFocusReason);
            QTRY_VERIFY(slider->hasFocus());
            QVERIFY2(slider->grab().toImage() != without, qPrintable(slider->accessibleName()));
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
