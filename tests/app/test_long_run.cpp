// One process opens, shows and saves 200 pictures of mixed formats and sizes:
// nothing may grow from one picture to the next.
#include "harness.h"
#include "jpeg_encoder/writer.h"
#include "platform/picture_io/picture_loader.h"

#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define MIPO_OWN_ALLOCATOR 0 // the sanitizer's allocator keeps its own books
#else
#define MIPO_OWN_ALLOCATOR 1
#endif

namespace
{
size_t heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd; // small blocks and mapped ones
}
} // namespace

class TestLongRun : public QObject
{
    Q_OBJECT
private slots:
    void twoHundredPictures()
    {
        QTemporaryDir dir;
        // Twelve files, four formats, sizes from 40 to 900 pixels.
        QStringList files;
        const char *formats[] = {"JPEG", "BMP", "GIF", "PNG"};
        for (int i = 0; i < 12; ++i) {
            const int w = 40 + (i * 173) % 860, h = 30 + (i * 97) % 600;
            QImage img(w, h, QImage::Format_RGB32);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    img.setPixel(x, y, qRgb((x * 3 + i * 20) & 255, (y * 5) & 255, (x ^ y) & 255));
            const char *format = formats[i % 4];
            const QString path = dir.filePath(
                QStringLiteral("p%1.%2").arg(i).arg(QString::fromLatin1(format).toLower()));
            if (qstrcmp(format, "GIF") == 0) // Qt writes no GIF: the program's own pictures
                QVERIFY(QFile::copy(i % 8 == 2 ? QStringLiteral(":/pictures/logo.gif")
                                               : QStringLiteral(":/pictures/browser.gif"),
                                    path));
            else
                QVERIFY(img.save(path, format));
            files << path;
        }

        Harness h;
        platform::QtPictureLoader loader;
        jpeg_encoder::LibjpegWriter writer;
        h.services.pictureLoader = &loader;
        h.services.jpegWriter = &writer;
        h.program = std::make_unique<Program>(h.services);
        h.start();
        MainWindow &f = h.f1();

        size_t firstRound = 0;
        for (int round = 1; round <= 200; ++round) {
            const QString file = files[round % files.size()];
            h.fakes.fileChooser.answers << file
                                        << dir.filePath(QStringLiteral("out%1.jpg").arg(round % 3));
            f.openItem->trigger();
            QCOMPARE(h.doc().fileName, file);
            f.repaint(); // shown: the picture is scaled for the window
            QCoreApplication::processEvents();
            f.saveItem->trigger();
            QCOMPARE(h.fakes.messageBox.calls.last().prompt, QStringLiteral("JPEG変換完了♪"));
            h.fakes.messageBox.calls.clear();
            h.fakes.fileChooser.requests.clear();
            // After round 20 every file has been seen, and round 200 shows the
            // same file as round 20: the same picture is current at both.
            if (round == 20) {
                // Measured once the size read-out has done with the picture:
                // a busy machine may still be encoding it.
                QTRY_VERIFY_WITH_TIMEOUT(h.doc().jpegSize() != PictureDocument::JpegSizeComing,
                                         30000);
                firstRound = heapInUse();
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(h.doc().jpegSize() != PictureDocument::JpegSizeComing, 30000);
        const size_t last = heapInUse();
        if (MIPO_OWN_ALLOCATOR) {
            QVERIFY2(
                double(last) <= double(firstRound) * 1.10,
                qPrintable(QStringLiteral("heap in use %1 after the first round, %2 at the end")
                               .arg(firstRound)
                               .arg(last)));
        }
    }
};

QTEST_MAIN(TestLongRun)
#include "test_long_run.moc"
