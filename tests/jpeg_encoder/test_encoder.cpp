// The encoder layer and the picture loader on real files.
#include "core/runtime.h"
#include "files.h"
#include "fuzz/encoder_input.h"
#include "jpeg_encoder/writer.h"
#include "platform/picture_io/picture_loader.h"
#include "platform/picture_io/picture_metadata.h"

#include <cmath>

#include <QBuffer>
#include <QColorSpace>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
QImage photoLike(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb((x * 255) / w, (y * 255) / h, ((x ^ y) * 7) & 255);
    }
    return img;
}

// The markers of a JPEG file: first luminance quantisation value, the luma
// sampling factors, whether it is baseline and has a JFIF header.
struct JpegFacts {
    int firstQuant = -1;
    int lumaH = 0, lumaV = 0;
    bool baseline = false, jfif = false;
};

JpegFacts facts(const QByteArray &b)
{
    JpegFacts f;
    for (int i = 2; i + 4 < b.size();) {
        if (uchar(b[i]) != 0xFF)
            break;
        const int marker = uchar(b[i + 1]);
        const int len = (uchar(b[i + 2]) << 8) | uchar(b[i + 3]);
        const char *seg = b.constData() + i + 4;
        if (marker == 0xE0 && QByteArray(seg, 4) == "JFIF")
            f.jfif = true;
        if (marker == 0xDB && f.firstQuant < 0 && (uchar(seg[0]) & 0x0F) == 0)
            f.firstQuant = uchar(seg[1]);
        if (marker == 0xC0 || marker == 0xC2) {
            f.baseline = marker == 0xC0;
            f.lumaH = uchar(seg[7]) >> 4;
            f.lumaV = uchar(seg[7]) & 15;
        }
        if (marker == 0xDA)
            break;
        i += 2 + len;
    }
    return f;
}

// How a JPEG file is laid out, walked segment by segment and over each
// scan's entropy-coded data (which ends at the first 0xFF that is neither
// stuffing nor a restart marker).
struct JpegLayout {
    int scans = 0;
    QList<QByteArray> app1; // the payloads of the Exif and XMP segments
    bool complete = false;  // the walk ended at an end-of-image marker, the last bytes
};

JpegLayout layoutOf(const QByteArray &b)
{
    JpegLayout l;
    qsizetype i = 2;
    while (i + 2 <= b.size() && uchar(b[i]) == 0xFF) {
        const int marker = uchar(b[i + 1]);
        if (marker == 0xD9) {
            l.complete = i + 2 == b.size();
            break;
        }
        if (i + 4 > b.size())
            break;
        const int len = (uchar(b[i + 2]) << 8) | uchar(b[i + 3]);
        if (marker == 0xE1)
            l.app1 << b.mid(i + 4, len - 2);
        i += 2 + len;
        if (marker != 0xDA)
            continue;
        ++l.scans;
        while (i + 1 < b.size() && !(uchar(b[i]) == 0xFF && uchar(b[i + 1]) != 0 &&
                                     (uchar(b[i + 1]) < 0xD0 || uchar(b[i + 1]) > 0xD7)))
            ++i;
    }
    return l;
}

// A photo's grain and a few hard edges over a picture, the same every run.
QImage grainy(QImage img)
{
    const int w = img.width(), h = img.height();
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int n = int(seed >> 27) - 16;
            const int edge = ((x / 37 + y / 23) % 3 == 0) ? 60 : 0;
            const auto c = [&](int v) { return std::clamp(v + n + edge, 0, 255); };
            row[x] = qRgb(c(qRed(row[x])), c(qGreen(row[x])), c(qBlue(row[x])));
        }
    }
    return img;
}

QImage grainy(int w, int h)
{
    return grainy(photoLike(w, h));
}

// Smooth colour under a grain that has none: the kind of picture whose
// colour loses nothing when halved.
QImage smoothPhoto(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb(40 + x * 180 / w, 60 + y * 150 / h, 200 - (x + y) * 120 / (w + h));
    }
    return grainy(img);
}

// Strokes one pixel wide in character cells, line by line in the colours
// (or only the grey) of a terminal's listing, on a dark ground.
QImage terminalText(int w, int h, bool inColour)
{
    static const QRgb colours[] = {qRgb(224, 108, 117), qRgb(152, 195, 121), qRgb(229, 192, 123),
                                   qRgb(97, 175, 239),  qRgb(198, 120, 221), qRgb(86, 182, 194)};
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(16, 16, 16));
    uint32_t seed = 4242;
    for (int line = 0; line * 16 + 14 <= h; ++line) {
        const QRgb ink = inColour ? colours[line % 6] : qRgb(208, 208, 208);
        for (int cell = 0; cell * 8 + 8 <= w; ++cell) {
            seed = seed * 1664525u + 1013904223u;
            if ((seed >> 29) == 0)
                continue; // a space
            const int x0 = cell * 8 + 1, y0 = line * 16 + 2;
            for (int stroke = 0; stroke < 3; ++stroke) {
                seed = seed * 1664525u + 1013904223u;
                const int at = int(seed >> 28);
                for (int i = 0; i < 10; ++i) {
                    if ((seed >> 27) & 1)
                        img.setPixel(x0 + at % 6, y0 + i, ink); // a vertical stroke
                    else if (i < 6)
                        img.setPixel(x0 + i, y0 + at % 11, ink); // a horizontal one
                }
            }
        }
    }
    return img;
}

// Grey text made pure black on pure white, as the decoder clips them.
QImage blackOnWhite(int w, int h)
{
    QImage img = terminalText(w, h, false);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRed(row[x]) > 100 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    }
    return img;
}

// Sum of squared differences over the three channels in a rectangle.
double squaredError(const QImage &a, const QImage &b, const QRect &r)
{
    double sum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
            sum += dr * dr + dg * dg + db * db;
        }
    return sum;
}

QStringList leftovers(const QString &dir, const QString &keep)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(keep);
    return names;
}
} // namespace

class TestEncoder : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString at(const QString &name) { return dir.filePath(name); }

private slots:
    void roundTripKeepsSizeAndPixels()
    {
        const QImage img = photoLike(123, 45);
        QCOMPARE(save(img, at("a.jpg"), 90), WriteResult::Written);
        QImage back(at("a.jpg"));
        QCOMPARE(back.size(), QSize(123, 45));
        const QColor a = img.pixelColor(60, 20), b = back.pixelColor(60, 20);
        QVERIFY(qAbs(a.red() - b.red()) < 12 && qAbs(a.green() - b.green()) < 12);
    }

    // The bytes of a few fixed pictures, as the encoder wrote them when these
    // were taken: a change meant to move code, not output, must keep them.
    // Both samplings, both scan orders, the clipped-overshoot path and the
    // scans written in two parts are among them.
    void outputBytesArePinned()
    {
        struct Case {
            QImage picture;
            int quality;
            const char *sha256;
        };
        const Case cases[] = {
            {photoLike(123, 45), 90,
             "349c9a9efb2c0201dbfadcdf0e2b6af336825f520e8cfdf6e854964fc08daf33"},
            {grainy(200, 150), 50,
             "ac3422bf35d216a3b68029ab0372e100ab27382888d2bfffd2341d76257df43d"},
            {terminalText(256, 192, true), 90,
             "cb9e872c65cc09cedd3237edb54599bdc3bad2cfbed8de3d40bd647d0a30af4d"},
            {terminalText(256, 192, false), 30,
             "87c6884ee0d98642b1d9222247a7dc2c2c73050f46676c67327673faa2011478"},
            {smoothPhoto(1, 1), 1,
             "eac2bf82a40dc5276adac94a735e61fede476aa0806c5b9b1b9ae8e66d4a8eb6"},
            {blackOnWhite(160, 96), 75,
             "378654db591594ab2036c9bc94ef49afb7c0b557a21717fbcdcc57d944e0de1c"},
            // Enough detail for the scans to be written in two parts and joined.
            {grainy(1001, 701), 90,
             "43e2bad0cabe8da9508d0b611b922251464982a8ad6afebc7b6b05412ece8069"},
        };
        QSet<int> samplings, baseline;
        for (const Case &c : cases) {
            QCOMPARE(save(c.picture, at("pinned.jpg"), c.quality), WriteResult::Written);
            const QByteArray bytes = read(at("pinned.jpg"));
            QCOMPARE(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
                     QByteArray(c.sha256));
            samplings << facts(bytes).lumaH;
            baseline << int(facts(bytes).baseline);
        }
        QCOMPARE(samplings, QSet<int>({1, 2}));
        QCOMPARE(baseline, QSet<int>({0, 1}));
    }

    void qualityReachesTheFile()
    {
        const QImage img = photoLike(64, 64);
        QCOMPARE(save(img, at("q50.jpg"), 50), WriteResult::Written);
        JpegFacts f = facts(read(at("q50.jpg")));
        QCOMPARE(f.firstQuant, 16); // the standard table at 100 %
        QVERIFY(f.jfif);
        // 0 is the lowest quality, 1: the table at 5000 %, kept within baseline.
        QCOMPARE(save(img, at("q0.jpg"), 0), WriteResult::Written);
        f = facts(read(at("q0.jpg")));
        QCOMPARE(f.firstQuant, 255); // kept within baseline tables
        QCOMPARE(save(img, at("q90.jpg"), 90), WriteResult::Written);
        f = facts(read(at("q90.jpg")));
        QCOMPARE(f.firstQuant, 3);
        QVERIFY(read(at("q90.jpg")).size() > read(at("q50.jpg")).size());
    }

    // Colour keeps its full resolution where halving it would lose what
    // quantisation keeps: text in colour at high quality, not at low, and
    // never a smooth photo's or grey text's colour.
    void colourIsKeptWholeWhereItCounts()
    {
        const auto sampling = [&](const QImage &img, int q) {
            const QString path = at("sampling.jpg");
            if (save(img, path, q) != WriteResult::Written)
                return -1;
            const JpegFacts f = facts(read(path));
            return f.lumaH == f.lumaV ? f.lumaH : -1;
        };
        const QImage photo = smoothPhoto(320, 240), colours = terminalText(320, 240, true),
                     grey = terminalText(320, 240, false);
        for (int q : {30, 75, 90, 95}) {
            if (q <= 90) // above, the clipped colour edges of its grain pay for whole colour
                QVERIFY2(sampling(photo, q) == 2, qPrintable(QString::number(q)));
            QVERIFY2(sampling(grey, q) == 2, qPrintable(QString::number(q)));
        }
        // Coloured text keeps its colour from low qualities on.
        for (int q : {30, 50, 90})
            QVERIFY2(sampling(colours, q) == 1, qPrintable(QString::number(q)));
    }

    // At low qualities a softly shaded area, a sky or a window's ground,
    // comes back level: no block's mean strays far from the picture's, or
    // the blocks show as steps.
    void shadedAreasStayLevelAtLowQuality()
    {
        QImage img(256, 256, QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const int v = 96 + (3 * x + 5 * y) / 40;
                img.setPixel(x, y, qRgb(v, v + 20, v + 60));
            }
        const QString path = at("shaded.jpg");
        QCOMPARE(save(img, path, 30), WriteResult::Written);
        const QImage back = QImage(path, "JPEG").convertToFormat(QImage::Format_RGB32);
        double worst = 0;
        for (int by = 0; by < 32; ++by)
            for (int bx = 0; bx < 32; ++bx) {
                double a = 0, b = 0;
                for (int y = by * 8; y < by * 8 + 8; ++y)
                    for (int x = bx * 8; x < bx * 8 + 8; ++x) {
                        a += qGreen(img.pixel(x, y));
                        b += qGreen(back.pixel(x, y));
                    }
                worst = std::max(worst, std::abs(a - b) / 64);
            }
        QVERIFY2(worst < 2.2, qPrintable(QString::number(worst)));
    }

    // Saturated strokes a few pixels wide keep their colour where it is
    // halved: the halves are chosen so that the decoder's smooth upsampling
    // comes back near the full colour, not a blur of a blur.
    void halvedColourKeepsRedStrokesRed()
    {
        const QRgb red = qRgb(199, 0, 54);
        QImage img(256, 128, QImage::Format_RGB32);
        img.fill(Qt::white);
        for (int y = 16; y < 112; ++y)
            for (int x = 8; x < 248; x += 7)
                for (int i = 0; i < 3; ++i)
                    img.setPixel(x + i, y, red);
        const QString path = at("red.jpg");
        QCOMPARE(save(img, path, 10), WriteResult::Written);
        QCOMPARE(facts(read(path)).lumaH, 2);
        const QImage back(path, "JPEG");
        double strokeError = 0, whiteTint = 0;
        int strokes = 0, whites = 0;
        for (int y = 24; y < 104; ++y)
            for (int x = 8; x < 248; ++x) {
                const QRgb b = back.pixel(x, y);
                if (img.pixel(x, y) == red) {
                    strokeError += std::hypot(qRed(b) - 199, qGreen(b) - 0, qBlue(b) - 54);
                    ++strokes;
                } else {
                    whiteTint += qMax(qAbs(qRed(b) - qGreen(b)), qAbs(qBlue(b) - qGreen(b)));
                    ++whites;
                }
            }
        QVERIFY2(strokeError / strokes < 42, qPrintable(QString::number(strokeError / strokes)));
        QVERIFY2(whiteTint / whites < 24, qPrintable(QString::number(whiteTint / whites)));
    }

    // At 90 and above what the user sees is kept: small pictures of flat
    // colour (an icon, a chart) keep their colour whole where halving would
    // smear it, whatever the estimate from a sample of blocks says.
    void highQualityKeepsFlatColourGraphics()
    {
        const auto psnr = [&](const QImage &img, int q) {
            const QString path = at("graphic.jpg");
            if (save(img, path, q) != WriteResult::Written)
                return 0.0;
            const double error = squaredError(img, QImage(path, "JPEG"), img.rect());
            return 10 * std::log10(255.0 * 255 * 3 * img.width() * img.height() / error);
        };
        // libpng's 1-bit palette test picture: blue and yellow checks.
        platform::QtPictureLoader loader;
        const QImage checks = loader.load(QStringLiteral(MIPO_PNG_DATA "/pngsuite/basn3p01.png"))
                                  .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(checks.size(), QSize(32, 32));
        // A chart of flat saturated patches.
        static const QRgb patches[] = {qRgb(230, 25, 75),  qRgb(60, 180, 75),  qRgb(255, 225, 25),
                                       qRgb(0, 130, 200),  qRgb(245, 130, 48), qRgb(145, 30, 180),
                                       qRgb(70, 240, 240), qRgb(240, 50, 230)};
        QImage chart(256, 160, QImage::Format_RGB32);
        for (int y = 0; y < 160; ++y)
            for (int x = 0; x < 256; ++x)
                chart.setPixel(x, y, patches[(x / 24 + y / 20 * 3) % 8]);
        for (int q : {90, 100})
            QVERIFY2(psnr(checks, q) >= 40,
                     qPrintable(QStringLiteral("checks q%1: %2 dB").arg(q).arg(psnr(checks, q))));
        for (int q : {90, 95})
            QVERIFY2(psnr(chart, q) >= 40,
                     qPrintable(QStringLiteral("chart q%1: %2 dB").arg(q).arg(psnr(chart, q))));
    }

    // A higher quality never gives a smaller file or a larger error, also
    // where the colour's resolution changes, which happens once at most.
    // The choice of coefficients by rate and distortion may trade a byte or
    // two for an error a thousandth smaller (or the other way round) from
    // one step to the next: that much is allowed, nothing visible.
    void qualityIsMonotone()
    {
        const QImage pictures[] = {smoothPhoto(256, 192), terminalText(256, 192, true),
                                   terminalText(256, 192, false), grainy(256, 192)};
        int changes = 0;
        for (const QImage &img : pictures) {
            qint64 lastSize = 0;
            double lastError = std::numeric_limits<double>::infinity();
            int lastSampling = 2;
            for (int q = 1; q <= 100; ++q) {
                const QString path = at("monotone.jpg");
                QCOMPARE(save(img, path, q), WriteResult::Written);
                const qint64 size = QFileInfo(path).size();
                const double error = squaredError(img, QImage(path, "JPEG"), img.rect());
                const int sampling = facts(read(path)).lumaH;
                const QString where = QStringLiteral("q%1: %2 bytes after %3, error %4 after %5")
                                          .arg(q)
                                          .arg(size)
                                          .arg(lastSize)
                                          .arg(error)
                                          .arg(lastError);
                QVERIFY2(size * 1000 >= lastSize * 998, qPrintable(where));
                QVERIFY2(error <= lastError * 1.002, qPrintable(where));
                QVERIFY2(sampling <= lastSampling, qPrintable(where));
                if (sampling != lastSampling) {
                    // The change itself costs bytes and buys a smaller error.
                    QVERIFY2(size > lastSize && error < lastError, qPrintable(where));
                    ++changes;
                }
                lastSize = size;
                lastError = error;
                lastSampling = sampling;
            }
        }
        QVERIFY(changes >= 1); // the text in colour
    }

    // Every size and every edge of the quality scale decodes, in Qt and in
    // djpeg, to its size and close to its pixels.
    void decodesEverywhere()
    {
        const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
        QVERIFY2(!djpeg.isEmpty(), "djpeg is not installed (libjpeg-turbo-progs)");
        qint64 largest = 0;
        for (const QSize size : {QSize(1, 1), QSize(17, 9), QSize(333, 201), QSize(1001, 701)})
            for (int q : {0, 1, 89, 90, 100}) {
                const QImage img = size.width() > 500 ? grainy(size.width(), size.height())
                                                      : photoLike(size.width(), size.height());
                const QString path = at("edge.jpg");
                QCOMPARE(save(img, path, q), WriteResult::Written);
                const QString where =
                    QStringLiteral("%1x%2 q%3").arg(size.width()).arg(size.height()).arg(q);
                const QImage back(path, "JPEG");
                QVERIFY2(back.size() == size, qPrintable(where));
                QCOMPARE(QProcess::execute(djpeg, {"-outfile", at("edge.ppm"), path}), 0);
                QVERIFY2(QImage(at("edge.ppm")).size() == size, qPrintable(where));
                largest = std::max(largest, QFileInfo(path).size());
                const JpegFacts f = facts(read(path));
                QVERIFY2((f.lumaH == 1 || f.lumaH == 2) && f.lumaV == f.lumaH, qPrintable(where));
                if (size.width() >= 17) {
                    // Mean error per channel: small at high quality, bounded at the lowest.
                    qint64 error = 0;
                    for (int y = 0; y < size.height(); ++y)
                        for (int x = 0; x < size.width(); ++x) {
                            const QRgb a = img.pixel(x, y), b = back.pixel(x, y);
                            error += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) +
                                     qAbs(qBlue(a) - qBlue(b));
                        }
                    const double mean = double(error) / (3.0 * size.width() * size.height());
                    QVERIFY2(mean < (q >= 89 ? 12 : 40),
                             qPrintable(where + " " + QString::number(mean)));
                }
            }
        // Files far larger than the encoder's first piece of memory came through whole.
        QVERIFY(largest > qint64(256) * 1024);
    }

    // Fewer bytes than libjpeg's own encoder with optimised tables for no
    // larger an error, and about as close in the MCUs the right and bottom
    // edges cut (where the blocks are filled out past the picture).
    void fewerBytesThanLibjpegAtTheSameError()
    {
        const QImage img = smoothPhoto(301, 199);
        const QRect all = img.rect(), edges[] = {QRect(288, 0, 13, 199), QRect(0, 192, 301, 7)};
        const auto errorOf = [&](const QString &path, const QRect &r) {
            return squaredError(img, QImage(path).convertToFormat(QImage::Format_RGB32), r) /
                   r.width() / r.height();
        };
        for (int q : {30, 75, 90}) {
            const QString where = QStringLiteral("q%1").arg(q);
            QCOMPARE(save(img, at("ours.jpg"), q), WriteResult::Written);
            const double ourError = errorOf(at("ours.jpg"), all);
            // libjpeg's lowest setting that comes as close.
            qint64 theirBytes = 0;
            for (int theirs = 1; theirs <= 100 && theirBytes == 0; ++theirs) {
                QImageWriter writer(at("theirs.jpg"), "jpeg");
                writer.setQuality(theirs);
                writer.setOptimizedWrite(true);
                QVERIFY(writer.write(img));
                if (errorOf(at("theirs.jpg"), all) <= ourError)
                    theirBytes = QFileInfo(at("theirs.jpg")).size();
            }
            const qint64 ourBytes = QFileInfo(at("ours.jpg")).size();
            QVERIFY2(
                theirBytes > 0 && ourBytes < 0.95 * double(theirBytes),
                qPrintable(where +
                           QStringLiteral(" %1 bytes against %2").arg(ourBytes).arg(theirBytes)));
            for (const QRect &edge : edges) {
                const double ours = errorOf(at("ours.jpg"), edge),
                             theirs = errorOf(at("theirs.jpg"), edge);
                QVERIFY2(ours < 1.5 * theirs + 4,
                         qPrintable(where +
                                    QStringLiteral(" edge %1 against %2").arg(ours).arg(theirs)));
            }
        }
    }

    // The size the writer says it would write is the size it writes.
    void encodedSizeIsTheWrittenSize()
    {
        jpeg_encoder::LibjpegWriter writer;
        for (int q : {1, 50, 90}) {
            const QImage img = photoLike(301, 199);
            QCOMPARE(writer.write(img, at("s.jpg"), q), WriteResult::Written);
            QCOMPARE(writer.encodedSize(img, q), QFileInfo(at("s.jpg")).size());
        }
        QCOMPARE(writer.encodedSize(QImage(), 50), qint64(-1));
    }

    // After a read-out, Save writes the file the read-out made, but only for
    // the same pixels at the same quality.
    void saveWritesTheReadOutsFileOnlyForTheSamePicture()
    {
        jpeg_encoder::LibjpegWriter writer;
        QImage img = grainy(160, 120);
        const qint64 readOut = writer.encodedSize(img, 50);
        QCOMPARE(writer.write(img, at("r50.jpg"), 50), WriteResult::Written);
        QCOMPARE(QFileInfo(at("r50.jpg")).size(), readOut);
        QCOMPARE(save(img, at("fresh50.jpg"), 50), WriteResult::Written);
        QCOMPARE(read(at("r50.jpg")), read(at("fresh50.jpg")));
        QVERIFY(writer.encodedSize(img, 50) > 0);
        QCOMPARE(writer.write(img, at("r90.jpg"), 90), WriteResult::Written);
        QCOMPARE(facts(read(at("r90.jpg"))).firstQuant, 3);
        QVERIFY(writer.encodedSize(img, 90) > 0);
        img.setPixel(5, 5, qRgb(255, 0, 0)); // the same image, other pixels
        QCOMPARE(writer.write(img, at("changed.jpg"), 90), WriteResult::Written);
        QVERIFY(writer.encodedSize(img, 90) == QFileInfo(at("changed.jpg")).size());
        QCOMPARE(save(img, at("fresh.jpg"), 90), WriteResult::Written);
        QCOMPARE(read(at("changed.jpg")), read(at("fresh.jpg")));
        const QImage other = grainy(120, 160);
        QCOMPARE(writer.write(other, at("other.jpg"), 90), WriteResult::Written);
        QCOMPARE(QImage(at("other.jpg")).size(), QSize(120, 160));
    }

    // A size nobody waits for any more: no answer, or the right one, never a wrong one.
    void abandonedSizeRunEndsEarly()
    {
        jpeg_encoder::LibjpegWriter writer;
        const QImage img = grainy(3000, 2000);
        const qint64 full = writer.encodedSize(img, 75);
        QVERIFY(full > 0);
        std::atomic_bool abandoned{true};
        QCOMPARE(writer.encodedSize(img, 75, &abandoned), qint64(-1));
        for (int ms : {1, 20, 60, 120, 250}) {
            abandoned = false;
            std::thread later([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                abandoned = true;
            });
            const qint64 size = writer.encodedSize(img, 75, &abandoned);
            later.join();
            QVERIFY2(size == -1 || size == full, qPrintable(QString::number(ms)));
            if (ms == 1)
                QCOMPARE(size, qint64(-1));
        }
    }

    // A read-out on one thread while Save writes on another, and the
    // converter's writes side by side: each gets what it would get alone.
    void encodingsFromSeveralThreads()
    {
        const QImage a = grainy(320, 240), b = smoothPhoto(240, 320);
        QCOMPARE(save(a, at("a-alone.jpg"), 60), WriteResult::Written);
        QCOMPARE(save(b, at("b-alone.jpg"), 80), WriteResult::Written);
        const qint64 aloneA = QFileInfo(at("a-alone.jpg")).size();
        jpeg_encoder::LibjpegWriter writer;
        constexpr int Rounds = 3;
        qint64 sizes[Rounds] = {};
        WriteResult saved[Rounds] = {}, besideA[Rounds] = {}, besideB[Rounds] = {};
        const auto name = [&](const char *kind, int i) {
            return at(QStringLiteral("%1%2.jpg").arg(QLatin1String(kind)).arg(i));
        };
        {
            std::thread readOut([&] {
                for (int i = 0; i < Rounds; ++i)
                    sizes[i] = writer.encodedSize(a, 60);
            });
            std::thread save([&] {
                for (int i = 0; i < Rounds; ++i)
                    saved[i] = writer.write(b, name("saved", i), 80);
            });
            std::thread convertA([&] {
                for (int i = 0; i < Rounds; ++i)
                    besideA[i] = writer.writeBeside(a, name("a", i), 60);
            });
            for (int i = 0; i < Rounds; ++i)
                besideB[i] = writer.writeBeside(b, name("b", i), 80);
            readOut.join();
            save.join();
            convertA.join();
        }
        for (int i = 0; i < Rounds; ++i) {
            QCOMPARE(sizes[i], aloneA);
            QCOMPARE(saved[i], WriteResult::Written);
            QCOMPARE(besideA[i], WriteResult::Written);
            QCOMPARE(besideB[i], WriteResult::Written);
            QCOMPARE(read(name("saved", i)), read(at("b-alone.jpg")));
            QCOMPARE(read(name("a", i)), read(at("a-alone.jpg")));
            QCOMPARE(read(name("b", i)), read(at("b-alone.jpg")));
        }
    }

    // Memory that runs out at any point of a save is reported as such, and
    // the file that was there stays. Each try is a fresh process whose
    // address space is limited to what it has plus a little more than the
    // last: 1 MB steps, then 64 KB steps over the last megabyte, where the
    // output's memory grows.
    void outOfMemoryLeavesTheOldFile()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("a sanitizer's shadow memory ignores address-space limits");
#endif
        write(at("old.jpg"), "the old file");
        int outOfMemory = 0;
        const auto saveWith = [&](qint64 extra) {
            QProcess child;
            child.start(QStringLiteral(SAVE_UNDER_LIMIT), {QString::number(extra), at("old.jpg")});
            const QString where = QStringLiteral("%1 KB more").arg(extra >> 10);
            if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit)
                return where + " crashed";
            if (child.exitCode() == 0)
                return QString();
            if (child.exitCode() != 4)
                return where + " gave " + QString::number(child.exitCode());
            ++outOfMemory;
            if (read(at("old.jpg")) != QByteArray("the old file"))
                return where + " lost the old file";
            if (!leftovers(dir.path(), "old.jpg").filter(QRegularExpression("^\\.")).isEmpty())
                return where + " left a temporary file";
            return QStringLiteral("out of memory");
        };
        qint64 enough = 0;
        for (QString r; (r = saveWith(enough)) != QString(); enough += 1 << 20) {
            QVERIFY2(r == QStringLiteral("out of memory"), qPrintable(r));
            QVERIFY(enough < (400 << 20));
        }
        QVERIFY(enough > 0);
        QCOMPARE(QImage(at("old.jpg")).size(), QSize(2000, 2000));
        // Near the limit a try may succeed or not from run to run: the two
        // workers' allocations, and whether a worker gets an allocator arena
        // of its own, fall differently in time. Each try is judged alone.
        write(at("old.jpg"), "the old file");
        for (qint64 extra = enough - (1 << 20) + (64 << 10); extra < enough; extra += 64 << 10) {
            const QString r = saveWith(extra);
            QVERIFY2(r == QStringLiteral("out of memory") || r.isEmpty(), qPrintable(r));
            if (r.isEmpty())
                break;
        }
        // Memory ran out at many different points before it sufficed.
        QVERIFY2(outOfMemory > 5, qPrintable(QString::number(outOfMemory)));
    }

    void formatErrors()
    {
        QCOMPARE(save(QImage(), at("f.jpg"), 50), WriteResult::FormatError);
        const QImage wide(70000, 1, QImage::Format_RGB32);
        QCOMPARE(save(wide, at("g.jpg"), 50), WriteResult::FormatError);
        // Only 32-bit surfaces: the document never hands over anything else.
        QCOMPARE(save(photoLike(10, 10).convertToFormat(QImage::Format_RGB888), at("g.jpg"), 50),
                 WriteResult::FormatError);
        QCOMPARE(save(photoLike(10, 10), QString(), 50), WriteResult::FormatError);
        QVERIFY(!QFile::exists(at("g.jpg")));
        // Qualities beyond the scale are held to it.
        QCOMPARE(save(photoLike(16, 16), at("q.jpg"), 1000), WriteResult::Written);
        QCOMPARE(facts(read(at("q.jpg"))).firstQuant, 1);
        QCOMPARE(save(photoLike(16, 16), at("q.jpg"), -5), WriteResult::Written);
        QCOMPARE(facts(read(at("q.jpg"))).firstQuant, 255);
    }

    void cannotOpen()
    {
        const QImage img = photoLike(10, 10);
        QCOMPARE(save(img, at("missing/x.jpg"), 50), WriteResult::CannotOpen);
        QDir(dir.path()).mkdir("folder");
        QCOMPARE(save(img, at("folder"), 50), WriteResult::CannotOpen);
        write(at("plain"), "x");
        QCOMPARE(save(img, at("plain/x.jpg"), 50), WriteResult::CannotOpen);
        // A pipe nobody reads: an answer at once, not a hung window.
        QCOMPARE(::mkfifo(QFile::encodeName(at("pipe")).constData(), 0600), 0);
        QCOMPARE(save(img, at("pipe"), 50), WriteResult::CannotOpen);
        QVERIFY(QFileInfo(at("pipe")).isFile() == false);
    }

    void cannotWriteLeavesTheOldFile()
    {
        const QImage img = photoLike(400, 400);
        // A full disk.
        QCOMPARE(save(img, QStringLiteral("/dev/full"), 50), WriteResult::CannotWrite);

        // A file-size limit, for this save only: the soft limit comes back after it.
        write(at("old.jpg"), "the old file");
        rlimit before{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = before;
        limited.rlim_cur = 2000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const WriteResult result = save(img, at("old.jpg"), 95);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(result, WriteResult::CannotWrite);
        QCOMPARE(read(at("old.jpg")), QByteArray("the old file"));
        QCOMPARE(leftovers(dir.path(), "old.jpg").filter("old.jpg"), QStringList());
    }

    void replacingKeepsPermissionsAndLinks()
    {
        const QImage img = photoLike(20, 20);
        write(at("perm.jpg"), "old");
        ::chmod(QFile::encodeName(at("perm.jpg")).constData(), 0640);
        QCOMPARE(save(img, at("perm.jpg"), 50), WriteResult::Written);
        struct stat st {
        };
        ::stat(QFile::encodeName(at("perm.jpg")).constData(), &st);
        QCOMPARE(int(st.st_mode & 0777), 0640);
        QCOMPARE(QImage(at("perm.jpg")).size(), QSize(20, 20));

        // A link stays a link; what it points at gets the picture.
        write(at("target.jpg"), "old");
        QVERIFY(QFile::link(QStringLiteral("target.jpg"), at("link.jpg")));
        QCOMPARE(save(img, at("link.jpg"), 50), WriteResult::Written);
        QVERIFY(QFileInfo(at("link.jpg")).isSymLink());
        QCOMPARE(QImage(at("target.jpg")).size(), QSize(20, 20));

        // A new file: 0666 less the umask.
        const mode_t old = ::umask(027);
        QCOMPARE(save(img, at("new.jpg"), 50), WriteResult::Written);
        ::umask(old);
        ::stat(QFile::encodeName(at("new.jpg")).constData(), &st);
        QCOMPARE(int(st.st_mode & 0777), 0640);
        QCOMPARE(leftovers(dir.path(), {}).filter(QRegularExpression("^\\.")), QStringList());
    }

    void japaneseFileName()
    {
        const QString path = at("写真　テスト.jpg");
        QCOMPARE(save(photoLike(8, 8), path, 50), WriteResult::Written);
        QVERIFY(QFile::exists(path));
    }

    // Pictures of much detail have their scans written in two parts at once
    // and joined. Whatever the metadata holds (here bytes that look like
    // markers), the file has every scan once, the metadata as given, its
    // colour profile, and pictures that decode close to the original
    // everywhere, with either sampling of the colour.
    void detailedFilesKeepEveryScanAndTheirMetadata()
    {
        const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
        QVERIFY2(!djpeg.isEmpty(), "djpeg is not installed (libjpeg-turbo-progs)");
        QByteArray exif("MM\0*", 4);
        for (int i = 0; i < 300; ++i)
            exif += QByteArray("\xFF\xDA\x00\x08\xFF\xD9\xFF\xC4", 8);
        const QByteArray xmp("<x:xmpmeta xmlns:x='adobe:ns:meta/'>\xFF\xD9</x:xmpmeta>");
        QSet<int> samplings;
        // Coloured detail at 90 keeps the colour whole; grain over smooth
        // colour at 50 has it halved.
        for (const int q : {50, 90}) {
            QImage img = q == 90 ? grainy(1600, 1200) : grainy(smoothPhoto(1600, 1200));
            img.setColorSpace(QColorSpace::DisplayP3);
            platform::metadata::attach(img, {exif, xmp, {}});
            const QString path = at(QStringLiteral("detailed-%1.jpg").arg(q));
            QCOMPARE(save(img, path, q), WriteResult::Written);
            const QByteArray bytes = read(path);
            samplings << facts(bytes).lumaH;
            const JpegLayout layout = layoutOf(bytes);
            QVERIFY(layout.complete);
            QCOMPARE(layout.scans, 9);
            QCOMPARE(layout.app1,
                     QList<QByteArray>({QByteArray("Exif\0\0", 6) + exif,
                                        QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + xmp}));
            const QImage back(path, "JPEG");
            QCOMPARE(back.size(), img.size());
            QCOMPARE(back.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
            const double mean =
                std::sqrt(squaredError(img, back, img.rect()) / (3.0 * img.width() * img.height()));
            QVERIFY2(mean < (q >= 90 ? 8 : 16), qPrintable(QString::number(mean)));
            QCOMPARE(QProcess::execute(djpeg, {"-outfile", at("detailed.ppm"), path}), 0);
            QCOMPARE(QImage(at("detailed.ppm")).size(), img.size());
        }
        QCOMPARE(samplings, QSet<int>({1, 2}));
    }

    // --- the picture loader ---

    void loaderReadsByContent()
    {
        platform::QtPictureLoader loader;
        const QImage img = photoLike(40, 30);
        QVERIFY(img.save(at("really-a-bmp.jpg"), "BMP"));
        QCOMPARE(loader.load(at("really-a-bmp.jpg")).size(), QSize(40, 30));
        QVERIFY(img.save(at("pic.png"), "PNG"));
        QCOMPARE(loader.load(at("pic.png")).size(), QSize(40, 30));
        QVERIFY(loader.isPicture(at("pic.png")));

        // An orientation tag: shown upright.
        QImageWriter w(at("turned.jpg"), "jpeg");
        w.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(w.write(img));
        QCOMPARE(loader.load(at("turned.jpg")).size(), QSize(30, 40));

        // A large picture is decoded straight into a huge-page buffer.
        const QImage big = photoLike(2200, 1500);
        QVERIFY(big.save(at("big.jpg"), "JPEG", 95));
        const QImage loaded = loader.load(at("big.jpg"));
        QCOMPARE(loaded.size(), big.size());
        QCOMPARE(reinterpret_cast<quintptr>(loaded.constBits()) % (2u << 20), quintptr(0));
        QVERIFY(qAbs(loaded.pixelColor(1100, 700).red() - big.pixelColor(1100, 700).red()) < 8);
    }

    // The kind is told from the bytes, whatever the name says, and only the
    // kind's reader is asked; what no reader takes is no picture.
    void loaderReadsWhateverTheName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("refusal"); // the error, where it is no picture read here
        const QImage img = photoLike(40, 30);
        const auto bytesOf = [](const QImage &picture, const char *format) {
            QByteArray b;
            QBuffer buffer(&b);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, format);
            return b;
        };
        QTest::newRow("PNG named .jpg") << "png.jpg" << bytesOf(img, "PNG") << QSize(40, 30) << 0;
        const QString gif = QStringLiteral(":/pictures/logo.gif");
        QTest::newRow("GIF named .bmp") << "gif.bmp" << read(gif) << QImage(gif).size() << 0;
        QTest::newRow("PPM named .gif") << "ppm.gif" << bytesOf(img, "PPM") << QSize(40, 30) << 0;
        QTest::newRow("PGM named .txt")
            << "pgm.txt" << bytesOf(img.convertToFormat(QImage::Format_Grayscale8), "PGM")
            << QSize(40, 30) << 0;
        QTest::newRow("PBM without a name")
            << "pbm" << bytesOf(img.convertToFormat(QImage::Format_Mono), "PBM") << QSize(40, 30)
            << 0;
        QTest::newRow("plain PPM")
            << "plain.ppm" << QByteArray("P3\n2 1\n255\n255 0 0  0 0 255\n") << QSize(2, 1) << 0;
        QTest::newRow("plain PBM")
            << "plain.pbm" << QByteArray("P1\n3 2\n1 0 1\n0 1 0\n") << QSize(3, 2) << 0;
        QTest::newRow("XPM, told by Qt")
            << "picture.dat" << bytesOf(img, "XPM") << QSize(40, 30) << 0;
        QTest::newRow("P6 and no header, a damaged picture")
            << "p6.ppm" << QByteArray("P6xyz") << QSize() << int(rt::ErrInvalidPicture);
        QTest::newRow("P7 (PAM), no kind read here")
            << "p7.txt" << QByteArray("P7\nWIDTH 2\n") << QSize() << int(rt::ErrInvalidFileFormat);
    }

    void loaderReadsWhateverTheName()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        QFETCH(int, refusal);
        platform::QtPictureLoader loader;
        write(at(name), bytes);
        if (refusal) {
            int error = 0;
            try {
                loader.load(at(name));
            } catch (const rt::RuntimeError &e) {
                error = e.number();
            }
            QCOMPARE(error, refusal);
            return;
        }
        const QImage loaded = loader.load(at(name));
        QCOMPARE(loaded.size(), size);
        QVERIFY(loader.isPicture(at(name)));
        if (!name.endsWith(QStringLiteral(".dat")))
            QCOMPARE(loader.pixelsOf(at(name)), qint64(size.width()) * size.height());
        if (name == QStringLiteral("plain.ppm")) {
            QCOMPARE(loaded.pixel(0, 0), qRgb(255, 0, 0));
            QCOMPARE(loaded.pixel(1, 0), qRgb(0, 0, 255));
        }
    }

    void loaderRefusesBadInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray jpeg, bmp, gif;
        {
            QBuffer b(&jpeg);
            b.open(QIODevice::WriteOnly);
            photoLike(64, 64).save(&b, "JPEG");
        }
        {
            QBuffer b(&bmp);
            b.open(QIODevice::WriteOnly);
            photoLike(64, 64).save(&b, "BMP");
        }
        gif = read(QStringLiteral(":/pictures/logo.gif"));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("<html>not a picture</html>\n");
        QTest::newRow("truncated jpeg header") << jpeg.left(200);
        QTest::newRow("truncated jpeg scan") << jpeg.left(jpeg.size() - 40);
        QByteArray flipped = jpeg;
        flipped[2] = 0x12; // no marker where one must be
        QTest::newRow("corrupt jpeg") << flipped;
        QTest::newRow("truncated bmp") << bmp.left(100);
        QTest::newRow("truncated bmp rows") << bmp.left(bmp.size() - 64);
        QTest::newRow("truncated gif") << gif.left(30);
        QTest::newRow("truncated gif data") << gif.left(gif.size() - 20);
        // Headers that claim 65535 x 65535 pixels.
        QByteArray hugeGif("GIF89a\xff\xff\xff\xff\x00\x00\x00", 13);
        hugeGif += QByteArray("\x2c\0\0\0\0\xff\xff\xff\xff\x00\x02\x02\x44\x01\x00\x3b", 17);
        QTest::newRow("huge gif") << hugeGif;
        QByteArray hugeBmp = bmp.left(54);
        const int side = 65535;
        memcpy(hugeBmp.data() + 18, &side, 4);
        memcpy(hugeBmp.data() + 22, &side, 4);
        QTest::newRow("huge bmp") << hugeBmp + QByteArray(1000, '\x7f');
    }

    void loaderRefusesBadInput()
    {
        QFETCH(QByteArray, bytes);
        platform::QtPictureLoader loader;
        write(at("bad.jpg"), bytes);
        bool refused = false;
        try {
            loader.load(at("bad.jpg"));
        } catch (const rt::RuntimeError &) {
            refused = true;
        }
        QVERIFY(refused);
    }

    // Every input the fuzzers ever found is replayed here.
    // What the fuzzers and the hardening found stays mended: each input loads
    // as a picture or is refused (as a damaged picture or as no picture
    // read here), and those named refused-* (the
    // inputs that once read past their buffer, hung or took all memory) are
    // refused. Under the sanitizers a read past a buffer fails here too.
    void fuzzFindingsStayFixed()
    {
        const QDir found(QStringLiteral(MIPO_FUZZ_REGRESSIONS));
        const QFileInfoList pictures =
            QDir(found.filePath("fuzz_loader")).entryInfoList(QDir::Files, QDir::Name);
        const QFileInfoList encodings =
            QDir(found.filePath("fuzz_encoder")).entryInfoList(QDir::Files, QDir::Name);
        QVERIFY(!pictures.isEmpty() && !encodings.isEmpty());
        platform::QtPictureLoader loader;
        for (const QFileInfo &f : pictures) {
            int error = 0;
            try {
                QVERIFY2(!loader.load(f.filePath()).isNull(), qPrintable(f.fileName()));
            } catch (const rt::RuntimeError &e) {
                error = e.number();
            }
            if (f.fileName().startsWith(QStringLiteral("refused-")))
                QVERIFY2(error == rt::ErrInvalidPicture, qPrintable(f.fileName()));
            else
                QVERIFY2(error == 0 || error == rt::ErrInvalidPicture ||
                             error == rt::ErrInvalidFileFormat,
                         qPrintable(f.fileName()));
        }
        for (const QFileInfo &f : encodings) {
            const QByteArray input = read(f.filePath());
            QVERIFY2(fuzz::runEncoder(reinterpret_cast<const uint8_t *>(input.constData()),
                                      size_t(input.size())),
                     qPrintable(f.fileName()));
        }
    }

    void loaderRefusesWhatIsNoFile()
    {
        platform::QtPictureLoader loader;
        for (const QString &path : {at("no-such.jpg"), dir.path()}) {
            bool refused = false;
            try {
                loader.load(path);
            } catch (const rt::RuntimeError &) {
                refused = true;
            }
            QVERIFY2(refused, qPrintable(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestEncoder)
#include "test_encoder.moc"
