// The compare window as a user sees it: the JPEG side is the file Save then
// writes, decoded; the divider, the zoom and the pan follow the mouse and the
// keys; the size and the share of the source; a redo that keeps the last
// JPEG in view; a new picture at once.

#include "compare_window/compare_view.h"
#include "compare_window/compare_window.h"
#include "harness.h"
#include "jpeg_encoder/decoder.h"
#include "jpeg_encoder/writer.h"

#include <QColorSpace>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>

namespace
{
const QColor Red(200, 0, 54);

// A soft colour field with red writing over it, as a screenshot of a page has.
QImage pictureWithRedText()
{
    QImage picture(420, 300, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(120 + x / 6, 160 + y / 5, 200 - x / 5));
    QPainter p(&picture);
    QFont face = p.font();
    face.setPixelSize(34);
    face.setBold(true);
    p.setFont(face);
    p.setPen(Red);
    for (int line = 0; line < 6; ++line)
        p.drawText(12, 60 + line * 42, QStringLiteral("赤い文字 Red text %1").arg(line));
    return picture;
}

int distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}
} // namespace

class TestCompareWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    jpeg_encoder::LibjpegWriter writer;
    jpeg_encoder::LibjpegDecoder decoder;

    std::unique_ptr<Harness> start()
    {
        auto h = std::make_unique<Harness>([this](platform::Services &s) {
            s.jpegWriter = &writer;
            s.jpegDecoder = &decoder;
        });
        h->start();
        return h;
    }

    static CompareWindow &openCompare(Harness &h)
    {
        // Its key, from the main window: keys reach a window's shortcuts
        // once it is the active one, which under load may take a while.
        if (!bringToFront(h.f1()))
            QTest::qFail("the main window did not become active", __FILE__, __LINE__);
        QTest::keyClick(&h.f1(), Qt::Key_K, Qt::ControlModifier);
        CompareWindow &w = h.program->compareWindow();
        if (!bringToFront(w))
            QTest::qFail("the compare window did not come up", __FILE__, __LINE__);
        return w;
    }

    static bool jpegShown(Harness &h, int quality)
    {
        return QTest::qWaitFor([&] {
            return h.doc().jpegPictureCurrent() && h.doc().jpegPictureQuality() == quality;
        });
    }

    // Where a picture point is drawn in the grab.
    static QPoint devicePoint(const CompareView &view, QPointF picturePoint)
    {
        return (view.viewPoint(picturePoint) * view.devicePixelRatioF()).toPoint();
    }

    // The view's pixels as drawn, one device pixel each.
    static QImage drawn(CompareView &view)
    {
        return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // The picture pixel drawn at a view pixel.
    // (x, y: device pixels of the grab.)
    static QPoint pixelUnder(const CompareView &view, int x, int y)
    {
        const QPointF p = view.picturePoint(QPointF(x + 0.5, y + 0.5) / view.devicePixelRatioF());
        return QPoint(int(std::floor(p.x())), int(std::floor(p.y())));
    }

    // Drags the divider with the mouse to x.
    static void dragDivider(CompareView &view, int x)
    {
        const QPoint grip(int(std::lround(view.divider() * view.width())), view.height() / 2);
        QTest::mousePress(&view, Qt::LeftButton, {}, grip);
        QTest::mouseMove(&view, QPoint(x, grip.y()));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(x, grip.y()));
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // At quality 0 and 90: every pixel of the JPEG side at 100 % is the
    // saved file's; at 0 it has lost the red writing.
    void jpegSideIsTheSavedFile()
    {
        auto h = start();
        const QImage original = pictureWithRedText();
        h->doc().setPicture(original);
        CompareWindow &w = openCompare(*h);
        CompareView &view = *w.view;
        w.resize(640, 480);
        // 100 % by its key, the divider dragged almost to the left edge.
        QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(view.zoom(), 1);
        QVERIFY(w.zoomButtons[1]->isChecked());
        dragDivider(view, 8);
        QVERIFY(view.divider() < 0.05);

        for (int quality : {0, 90}) {
            h->f2().qualityBar->setValue(quality);
            QVERIFY(jpegShown(*h, quality));
            const QString saved = dir.filePath(QStringLiteral("q%1.jpg").arg(quality));
            h->fakes.fileChooser.answers << saved;
            h->f1().saveChosen();
            const QImage file(saved, "JPEG");
            QVERIFY(!file.isNull());
            QCOMPARE(file.size(), original.size());

            const QImage shown = drawn(view);
            int compared = 0, lostRed = 0, redInOriginal = 0;
            // Clear of the captions at the top and of the edges.
            const int edge = int(40 * view.devicePixelRatioF());
            for (int y = edge; y < shown.height() - 8; y += 3)
                for (int x = edge / 2; x < shown.width() - 8; x += 3) {
                    const QPoint at = pixelUnder(view, x, y);
                    if (!file.rect().contains(at))
                        continue;
                    ++compared;
                    QCOMPARE(shown.pixel(x, y), file.pixel(at));
                    if (distance(original.pixel(at), Red.rgb()) < 8) {
                        ++redInOriginal;
                        lostRed += distance(shown.pixel(x, y), Red.rgb()) > 60;
                    }
                }
            QVERIFY2(compared > 10000, qPrintable(QString::number(compared)));
            QVERIFY(redInOriginal > 100);
            if (quality == 0)
                QVERIFY2(lostRed > redInOriginal / 2,
                         qPrintable(QStringLiteral("%1 of %2").arg(lostRed).arg(redInOriginal)));
            else
                QVERIFY2(lostRed < redInOriginal / 10,
                         qPrintable(QStringLiteral("%1 of %2").arg(lostRed).arg(redInOriginal)));
            // The size read out is the file's.
            QVERIFY(w.sizeLabel->text().contains(
                QLocale(QLocale::Japanese).toString(QFileInfo(saved).size()) + " バイト"));
        }

        // The original side: the divider dragged to the right shows the
        // original's own pixels where the JPEG was.
        dragDivider(view, view.width() - 8);
        QVERIFY(view.divider() > 0.95);
        const QImage shown = drawn(view);
        const int edge = int(40 * view.devicePixelRatioF());
        for (int y = edge; y < shown.height() - 8; y += 7)
            for (int x = edge / 2; x < shown.width() - edge; x += 7) {
                const QPoint at = pixelUnder(view, x, y);
                if (original.rect().contains(at))
                    QCOMPARE(shown.pixel(x, y), original.pixel(at));
            }
    }

    // Ctrl+wheel and the keys zoom around the pointer; a drag and the arrows pan.
    void zoomAndPan()
    {
        auto h = start();
        // Larger than the view on a screen scaled by 2 too.
        h->doc().setPicture(pictureWithRedText().scaled(1260, 900));
        CompareWindow &w = openCompare(*h);
        CompareView &view = *w.view;
        // Smaller than the picture: fitting shrinks it.
        w.resize(400, 300);
        QTRY_VERIFY(view.width() > 300 && view.width() < 400);
        QCOMPARE(view.zoom(), CompareView::Fit);
        // Fitted: the whole picture is in view.
        QVERIFY(QRectF(view.rect()).contains(view.viewPoint(QPointF(0, 0))));
        QVERIFY(
            QRectF(view.rect()).adjusted(0, 0, 1, 1).contains(view.viewPoint(QPointF(1260, 900))));

        const QPoint pointer(view.width() / 3, view.height() / 3);
        const QPointF under = view.picturePoint(pointer);
        QWheelEvent up(pointer, view.mapToGlobal(pointer), {}, QPoint(0, 120), Qt::NoButton,
                       Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &up);
        QCOMPARE(view.zoom(), 1);
        QVERIFY((view.picturePoint(pointer) - under).manhattanLength() < 1.5);
        QApplication::sendEvent(&view, &up);
        QCOMPARE(view.zoom(), 2);
        QVERIFY((view.picturePoint(pointer) - under).manhattanLength() < 1.5);
        QVERIFY(w.zoomButtons[2]->isChecked());
        // 400 % by its key; each picture pixel is 4×4 device pixels.
        QTest::keyClick(&w, Qt::Key_4, Qt::ControlModifier);
        QCOMPARE(view.zoom(), 4);
        QCOMPARE(view.viewPoint(QPointF(11, 7)) - view.viewPoint(QPointF(10, 6)),
                 QPointF(4, 4) / view.devicePixelRatioF());

        // A drag moves the picture with the pointer.
        const QPointF before = view.picturePoint(QPointF(300, 150));
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(300, 150));
        QTest::mouseMove(&view, QPoint(260, 130));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(260, 130));
        QVERIFY((view.picturePoint(QPointF(260, 130)) - before).manhattanLength() < 0.6);
        // The arrows move it by an eighth of the view.
        view.setFocus();
        const QPointF left = view.picturePoint(QPointF(100, 100));
        QTest::keyClick(&view, Qt::Key_Right);
        QVERIFY(view.picturePoint(QPointF(100, 100)).x() > left.x() + 10);
        // Never past its edge: far to the right, the right edge stays at the view's.
        for (int i = 0; i < 200; ++i)
            QTest::keyClick(&view, Qt::Key_Right);
        QCOMPARE(view.viewPoint(QPointF(1260, 0)).x(), double(view.width()));
        // Shift+arrows move the divider.
        const double divider = view.divider();
        QTest::keyClick(&view, Qt::Key_Left, Qt::ShiftModifier);
        QVERIFY(view.divider() < divider);
        // Fit again by its key, and Ctrl+wheel down stays there.
        QTest::keyClick(&w, Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(view.zoom(), CompareView::Fit);
        QVERIFY(w.zoomButtons[0]->isChecked());
        QWheelEvent down(pointer, view.mapToGlobal(pointer), {}, QPoint(0, -120), Qt::NoButton,
                         Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &down);
        QCOMPARE(view.zoom(), CompareView::Fit);
    }

    // While the next JPEG is made, the last one stays in view with a mark;
    // a new picture shows at once; no picture is said.
    void followsTheQualityAndThePicture()
    {
        auto h = start();
        h->doc().setPicture(pictureWithRedText(), 123456);
        CompareWindow &w = openCompare(*h);
        CompareView &view = *w.view;
        QVERIFY(jpegShown(*h, 50));
        QVERIFY2(w.sizeLabel->text().contains(QStringLiteral("元のファイルの")),
                 qPrintable(w.sizeLabel->text()));
        view.setDivider(0);
        const QImage before = drawn(view);

        h->f2().qualityBar->setValue(20);
        QVERIFY(view.jpegCaption().contains(QStringLiteral("作り直し中")));
        QVERIFY(w.sizeLabel->text().contains(QStringLiteral("計算中")));
        // Still the last JPEG, not an empty side.
        const QImage during = drawn(view);
        const QPoint middle(during.width() * 3 / 4, during.height() / 2);
        QVERIFY(distance(during.pixel(middle), before.pixel(middle)) < 40);
        QVERIFY(jpegShown(*h, 20));
        QVERIFY(!view.jpegCaption().contains(QStringLiteral("作り直し中")));
        QVERIFY2(w.sizeLabel->text().startsWith(QStringLiteral("JPEG 品質 20：")),
                 qPrintable(w.sizeLabel->text()));

        // Another picture: its original at once, of its own size.
        QImage green(64, 48, QImage::Format_RGB32);
        green.fill(QColor(0, 160, 0));
        h->doc().setPicture(green);
        QCOMPARE(view.zoom(), CompareView::Fit);
        view.setDivider(1);
        const QImage shown = drawn(view);
        QCOMPARE(shown.pixel(devicePoint(view, QPointF(32, 24))), green.pixel(0, 0));
        QVERIFY(w.sizeLabel->text().contains(QStringLiteral("無圧縮の画素")) ||
                w.sizeLabel->text().contains(QStringLiteral("計算中")));
        QVERIFY(jpegShown(*h, 20));

        h->doc().setPicture(QImage());
        QCOMPARE(w.sizeLabel->text(), QStringLiteral("画像がありません"));
        QCOMPARE(view.accessibleDescription(), QStringLiteral("画像がありません"));

        // Closed, the decoded picture goes with it.
        h->doc().setPicture(green);
        QVERIFY(jpegShown(*h, 20));
        w.close();
        QVERIFY(h->doc().jpegPicture().isNull());
    }

    // A picture in a wider gamut: both sides are shown through its profile,
    // as other viewers show the file Save writes with it.
    void bothSidesThroughTheProfile()
    {
        auto h = start();
        QImage wide(200, 150, QImage::Format_RGB32);
        wide.fill(QColor(230, 40, 40));
        wide.setColorSpace(QColorSpace::DisplayP3);
        h->doc().setPicture(wide);
        CompareWindow &w = openCompare(*h);
        CompareView &view = *w.view;
        h->f2().qualityBar->setValue(95);
        QVERIFY(jpegShown(*h, 95));
        view.setDivider(0.5);
        const QImage shown = drawn(view);
        const QPoint left = devicePoint(view, QPointF(50, 75));
        const QPoint right = devicePoint(view, QPointF(150, 75));
        QVERIFY(left.x() < shown.width() / 2 && right.x() > shown.width() / 2);
        // The original in sRGB is redder than its own numbers say.
        QVERIFY(distance(shown.pixel(left), wide.pixel(0, 0)) > 10);
        QVERIFY2(distance(shown.pixel(left), shown.pixel(right)) <= 4,
                 qPrintable(QStringLiteral("%1 %2")
                                .arg(shown.pixel(left), 0, 16)
                                .arg(shown.pixel(right), 0, 16)));
    }

    void sizeAndShare()
    {
        QCOMPARE(CompareWindow::sizeText(44396, 2115800, 0),
                 QStringLiteral("44,396 バイト（元のファイルの 2.1 %）"));
        QCOMPARE(CompareWindow::sizeText(300000, 0, 100000),
                 QStringLiteral("300,000 バイト（無圧縮の画素の 100 %）"));
        QCOMPARE(CompareWindow::sizeText(12, 0, 0), QStringLiteral("12 バイト"));
    }
};

QTEST_MAIN(TestCompareWindow)
#include "test_compare_window.moc"
