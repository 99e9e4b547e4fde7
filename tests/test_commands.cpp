// The commands on a picture document with doubles for every service: no
// window and no display.
#include "about/system_info.h"
#include "capture/browser_capture.h"
#include "capture/clipboard_capture.h"
#include "core/runtime.h"
#include "document/picture_document.h"
#include "doubles.h"
#include "files.h"
#include "jpeg_encoder/writer.h"
#include "picture_files/common_dialog.h"
#include "picture_files/convert_files.h"
#include "picture_files/open_picture.h"
#include "picture_files/save_jpeg.h"
#include "picture_files/size_estimate.h"
#include "platform/files/desktop_trash.h"
#include "platform/picture_io/picture_loader.h"
#include "platform/qt/program_launcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QTextStream>
#include <QUrl>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
// A file named by its whole path, as a caller without a folder of its own names it.
platform::FileInFolder inFolder(const QString &path)
{
    return {AT_FDCWD, QFile::encodeName(path), path};
}

QImage picture(int w, int h, QColor c = Qt::darkGreen)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

const QString SaveTitle = QStringLiteral("保存情況");

// A document as the main window's start-up leaves it, with the services.
struct Bench {
    platform::FakeServices fakes;
    PictureDocument doc;
    CommonDialog dialog{&fakes.fileChooser};
    // What the views were asked to do, in order.
    QStringList views;

    Bench()
    {
        doc.setPicture(picture(64, 64));
        doc.PicWidth = doc.pictureWidth();
        doc.PicHeight = rt::roundToInt32(doc.pictureHeight());
        doc.setJpegQuality(50);
        doc.offlineMode = 1;
        doc.CaptureWait = 1500;
        QObject::connect(&doc, &PictureDocument::informationWindowRequested,
                         [this] { views << "InformationWindow.showWindow"; });
        QObject::connect(&doc, &PictureDocument::fileNameShown, [this](const QString &n) {
            views << "InformationWindow.fileNameLabel " + n;
        });
        QObject::connect(&doc, &PictureDocument::fullSizeRequested,
                         [this] { views << "pictureView full size"; });
        QObject::connect(&doc, &PictureDocument::fitRequested, [this] {
            views << "fitToPicture";
            fakes.log << "fitToPicture";
        });
        QObject::connect(&doc, &PictureDocument::pictureChanged, [this] {
            views << QStringLiteral("picture %1x%2")
                         .arg(doc.picture().width())
                         .arg(doc.picture().height());
        });
    }
    void open() { picture_files::openPicture(doc, dialog, fakes.pictureLoader, &fakes.messageBox); }
    void save()
    {
        picture_files::saveJpeg(
            doc, dialog, {fakes.pictureLoader, fakes.jpegWriter, fakes.trash, fakes.messageBox});
    }
    // Readies a capture of a page in the mode given: the address the prompt
    // answers with online, a chosen file offline.
    void pageIn(bool online)
    {
        if (online)
            capture::chooseOnline(doc);
        else
            fakes.fileChooser.answers << QStringLiteral("/a.html");
    }
    void capture()
    {
        capture::captureBrowserPage(doc, dialog,
                                    {fakes.inputPrompt, fakes.browserFactory, fakes.eventLoop,
                                     fakes.screenGrabber, fakes.clipboard, fakes.windowActivator,
                                     fakes.messageBox});
    }
};
} // namespace

class TestCommands : public QObject
{
    Q_OBJECT
private slots:
    void init() { rt::resetEnd(); }

    // --- Open ---

    void openAdoptsThePicture()
    {
        Bench b;
        b.fakes.pictureLoader.pictures["/photos/a.jpg"] = picture(600, 100);
        b.fakes.fileChooser.answers << QStringLiteral("/photos/a.jpg");
        b.open();
        const auto &r = b.fakes.fileChooser.requests.at(0);
        QVERIFY(!r.save);
        QCOMPARE(r.descriptions,
                 (QStringList{"JPEG (*.jpg)", "BMP (*.bmp)", "GIF (*.gif)", "PNG (*.png)",
                              "HEIC・AVIF (*.heic;*.heif;*.avif)", "WebP (*.webp)", "TIFF (*.tif)",
                              "JPEG XL (*.jxl)", "すべての画像"}));
        const QStringList all{"*.jpg",  "*.jpeg", "*.jpe",  "*.bmp",  "*.gif", "*.png",  "*.heic",
                              "*.heif", "*.hif",  "*.avif", "*.webp", "*.tif", "*.tiff", "*.jxl"};
        QCOMPARE(r.patterns, (QList<QStringList>{{"*.jpg", "*.jpeg", "*.jpe"},
                                                 {"*.bmp"},
                                                 {"*.gif"},
                                                 {"*.png"},
                                                 {"*.heic", "*.heif", "*.hif", "*.avif"},
                                                 {"*.webp"},
                                                 {"*.tif", "*.tiff"},
                                                 {"*.jxl"},
                                                 all}));
        QCOMPARE(r.selected, 0); // no file yet: the first entry
        QCOMPARE(b.doc.FileName, QStringLiteral("/photos/a.jpg"));
        QCOMPARE(b.doc.PicWidth, 604.0f * 15);
        QCOMPARE(b.doc.PicHeight, 104 * 15);
        QCOMPARE(b.doc.picture().size(), QSize(600, 100));
        QCOMPARE(b.views,
                 (QStringList{"picture 600x100", "pictureView full size",
                              "InformationWindow.fileNameLabel /photos/a.jpg", "fitToPicture"}));
        QVERIFY(b.fakes.messageBox.calls.isEmpty());
        // The next dialog, of any command, starts where this one ended.
        b.save();
        QCOMPARE(b.fakes.fileChooser.requests.at(1).startPath, QStringLiteral("/photos/a.jpg"));
    }

    // The dialog opens on the entry of the current file.
    void openShowsTheCurrentFilesEntry()
    {
        Bench b;
        for (const auto &[file, entry] :
             {std::pair{"/p/shot.PNG", 3}, std::pair{"/p/a.gif", 2},
              std::pair{"/p/IMG_0001.JPE", 0}, std::pair{"/p/page.html", 0}}) {
            b.dialog.FileName = QString::fromUtf8(file);
            b.open(); // cancelled
            QCOMPARE(b.fakes.fileChooser.requests.last().selected, entry);
        }
    }

    void openCancelledOrUnreadable()
    {
        Bench b;
        const qint64 key = b.doc.picture().cacheKey();
        b.open(); // no answer: Cancel
        QVERIFY(b.doc.FileName.isEmpty());
        QVERIFY(b.fakes.pictureLoader.loaded.isEmpty());
        QVERIFY(b.fakes.messageBox.calls.isEmpty());
        // A file that holds no picture: said so, and nothing changes.
        b.fakes.fileChooser.answers << QStringLiteral("/docs/notes.txt");
        b.open();
        QCOMPARE(b.fakes.pictureLoader.loaded, QStringList{"/docs/notes.txt"});
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls[0].prompt,
                 QStringLiteral("/docs/notes.txt は読める画像ではありません"
                                "（壊れているか大きすぎます）"));
        QVERIFY(b.doc.FileName.isEmpty());
        QVERIFY(b.dialog.FileName.isEmpty());
        QCOMPARE(b.doc.picture().cacheKey(), key);
        QCOMPARE(b.doc.PicWidth, 68.0f * 15);
        QVERIFY(b.views.isEmpty());
        QVERIFY(!rt::ended());
    }

    // Open a photo, tune the quality, then fail to open a broken file: the
    // next Save offers the photo's name and writes the photo, never the
    // broken file's name with the photo's pixels under it.
    void aFailedOpenChangesNothing()
    {
        Bench b;
        b.fakes.pictureLoader.pictures["/photos/a.jpg"] = picture(64, 48);
        b.fakes.fileChooser.answers << QStringLiteral("/photos/a.jpg");
        b.open();
        const qint64 key = b.doc.picture().cacheKey();
        b.doc.setJpegQuality(80);
        b.views.clear();

        b.fakes.fileChooser.answers << QStringLiteral("/photos/broken.jpg");
        b.open();
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.doc.FileName, QStringLiteral("/photos/a.jpg"));
        QCOMPARE(b.doc.picture().cacheKey(), key);
        QCOMPARE(b.doc.JpegQuality(), 80);
        QVERIFY(b.views.isEmpty());

        // Save, Enter: the offered name is taken as it is.
        b.fakes.fileChooser.answers << QStringLiteral("/photos/a.jpg");
        b.save();
        QCOMPARE(b.fakes.fileChooser.requests.last().startPath, QStringLiteral("/photos/a.jpg"));
        QCOMPARE(b.fakes.jpegWriter.calls.size(), 1);
        QCOMPARE(b.fakes.jpegWriter.calls[0].path, QStringLiteral("/photos/a.jpg"));
        QCOMPARE(b.fakes.jpegWriter.calls[0].picture.cacheKey(), key);
        QCOMPARE(b.fakes.jpegWriter.calls[0].quality, 80);
    }

    // A file named from outside opens as the dialog's would, and the next dialog starts there.
    void openFileFromOutside()
    {
        Bench b;
        b.fakes.pictureLoader.pictures["/in/given.gif"] = picture(300, 30);
        picture_files::openFile(b.doc, b.dialog, b.fakes.pictureLoader, "/in/given.gif");
        QCOMPARE(b.views,
                 (QStringList{"picture 300x30", "pictureView full size",
                              "InformationWindow.fileNameLabel /in/given.gif", "fitToPicture"}));
        QCOMPARE(b.doc.FileName, QStringLiteral("/in/given.gif"));
        QCOMPARE(b.doc.PicWidth, 304.0f * 15);
        QCOMPARE(b.dialog.FileName, QStringLiteral("/in/given.gif"));
        b.views.clear();
        QVERIFY(!picture_files::openFile(b.doc, b.dialog, b.fakes.pictureLoader, "/in/unreadable"));
        QCOMPARE(b.doc.FileName, QStringLiteral("/in/given.gif"));
        QCOMPARE(b.dialog.FileName, QStringLiteral("/in/given.gif"));
        QVERIFY(b.views.isEmpty());
        QCOMPARE(b.doc.picture().size(), QSize(300, 30));
    }

    // --- Save ---

    void saveReportsEachResult_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("0") << 0 << "JPEG変換完了♪";
        QTest::newRow("1") << 1 << "ファイルがオープンできません";
        QTest::newRow("2") << 2 << "ファイルが書きこめません";
        QTest::newRow("3") << 3 << "フォーマットエラーです";
        QTest::newRow("4") << 4 << "スタックオーバーフローです";
        QTest::newRow("6") << 6 << QString();
        QTest::newRow("-1") << -1 << QString();
    }

    void saveReportsEachResult()
    {
        QFETCH(int, result);
        QFETCH(QString, message);
        Bench b;
        b.fakes.jpegWriter.result = platform::WriteResult(result);
        b.fakes.fileChooser.answers << QStringLiteral("/tmp/保存.jpg");
        b.save();
        const auto &r = b.fakes.fileChooser.requests.at(0);
        QVERIFY(r.save);
        QCOMPARE(r.descriptions, (QStringList{"JPEG (*.jpg)", "BMP (*.bmp)"}));
        QCOMPARE(r.selected, 0);
        QCOMPARE(b.fakes.jpegWriter.calls.size(), 1);
        const auto &call = b.fakes.jpegWriter.calls[0];
        QCOMPARE(call.path, QStringLiteral("/tmp/保存.jpg"));
        QCOMPARE(call.quality, 50);
        QCOMPARE(call.picture.cacheKey(), b.doc.picture().cacheKey());
        QCOMPARE(b.doc.FileName, QStringLiteral("/tmp/保存.jpg"));
        QVERIFY(b.views.isEmpty()); // the information window keeps its text
        if (message.isEmpty()) {
            QVERIFY(b.fakes.messageBox.calls.isEmpty());
        } else {
            QCOMPARE(b.fakes.messageBox.calls.size(), 1);
            QCOMPARE(b.fakes.messageBox.calls[0].prompt, message);
            QCOMPARE(b.fakes.messageBox.calls[0].title, SaveTitle);
            QCOMPARE(b.fakes.messageBox.calls[0].style, int(platform::MessageStyle::OkOnly));
        }
    }

    // The quality goes from the document to the writer as it was set.
    void qualityReachesTheWriter()
    {
        Bench b;
        for (int32_t q : {0, 1, 89, 90, 100}) {
            b.doc.setJpegQuality(q);
            b.fakes.fileChooser.answers << QStringLiteral("/tmp/q.jpg");
            b.save();
            QCOMPARE(b.fakes.jpegWriter.calls.last().quality, q);
        }
    }

    void aDocumentIsNotOverwrittenWithoutAsking()
    {
        Bench b;
        QTemporaryDir dir;
        const QString page = dir.filePath("page.html");
        write(page, "<html><body>mine</body></html>");

        b.fakes.messageBox.answers << platform::MessageAnswer::No;
        b.fakes.fileChooser.answers << page;
        b.save();
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls[0].title, SaveTitle);
        QCOMPARE(b.fakes.messageBox.calls[0].style,
                 int(platform::MessageStyle::YesNo | platform::MessageStyle::Question |
                     platform::MessageStyle::SecondButtonDefault));
        QVERIFY(b.fakes.messageBox.calls[0].prompt.contains(page));
        QVERIFY(b.fakes.jpegWriter.calls.isEmpty());

        b.fakes.messageBox.answers << platform::MessageAnswer::Yes;
        b.fakes.fileChooser.answers << page;
        b.save();
        QCOMPARE(b.fakes.jpegWriter.calls.size(), 1);

        // A picture the loader reads is replaced without a question.
        b.fakes.messageBox.calls.clear();
        b.fakes.pictureLoader.pictures[page] = picture(2, 2);
        b.fakes.fileChooser.answers << page;
        b.save();
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls[0].prompt, QStringLiteral("JPEG変換完了♪"));
    }

    // With the real writer: a JPEG whatever the name, transparent parts on the
    // picture box's background.
    void savingWritesJpegWhateverTheName()
    {
        Bench b;
        jpeg_encoder::LibjpegWriter writer;
        b.doc.setPictureBackground(QColor(239, 239, 239));
        QImage gif(8, 8, QImage::Format_ARGB32);
        gif.fill(Qt::transparent);
        gif.setPixelColor(5, 5, Qt::red);
        b.doc.setPicture(gif);
        QCOMPARE(b.doc.picture().format(), QImage::Format_RGB32);
        QCOMPARE(b.doc.picture().pixelColor(5, 5), QColor(Qt::red));
        QTemporaryDir dir;
        // A name without an extension gets .jpg, as the filter implies; a
        // typed extension stays.
        for (const auto &[typed, name] :
             {std::pair{QStringLiteral("noext"), QStringLiteral("noext.jpg")},
              std::pair{QStringLiteral("写真.bmp"), QStringLiteral("写真.bmp")}}) {
            b.fakes.fileChooser.answers << dir.filePath(typed);
            picture_files::saveJpeg(
                b.doc, b.dialog,
                {b.fakes.pictureLoader, writer, b.fakes.trash, b.fakes.messageBox});
            QCOMPARE(b.doc.FileName, dir.filePath(name));
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.read(3), QByteArray("\xFF\xD8\xFF"));
            f.close();
            const QImage back(dir.filePath(name), "JPEG");
            QCOMPARE(back.size(), QSize(8, 8));
            QVERIFY(qAbs(back.pixelColor(0, 0).red() - 239) < 10);
        }
    }

    // A replaced file goes to the trash first, once: what this run wrote is
    // replaced as it is; without a trash the user is asked.
    void replacedFilesGoToTheTrash()
    {
        Bench b;
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        write(photo, "an original");
        b.fakes.pictureLoader.pictures[photo] = picture(2, 2);
        jpeg_encoder::LibjpegWriter writer;
        const auto save = [&] {
            b.fakes.fileChooser.answers << photo;
            picture_files::saveJpeg(
                b.doc, b.dialog,
                {b.fakes.pictureLoader, writer, b.fakes.trash, b.fakes.messageBox});
        };
        save();
        QCOMPARE(b.fakes.trash.asked, QStringList{photo});
        save(); // tuning the quality: no second copy
        QCOMPARE(b.fakes.trash.asked, QStringList{photo});
        QCOMPARE(b.fakes.messageBox.calls.size(), 2);
        // A new file needs no trash.
        b.fakes.fileChooser.answers << dir.filePath("new.jpg");
        b.save();
        QCOMPARE(b.fakes.trash.asked.size(), 1);

        // No trash for it: asked as for a document; No keeps the file.
        b.fakes.trash.usable = false;
        const QString other = dir.filePath("other.jpg");
        QVERIFY(QFile::copy(photo, other));
        b.fakes.pictureLoader.pictures[other] = picture(2, 2);
        b.fakes.messageBox.calls.clear();
        b.fakes.messageBox.answers << platform::MessageAnswer::No;
        b.fakes.fileChooser.answers << other;
        const qsizetype writes = b.fakes.jpegWriter.calls.size();
        b.save();
        QCOMPARE(b.fakes.messageBox.calls.size(), 1);
        QCOMPARE(b.fakes.messageBox.calls[0].prompt, other + " はゴミ箱に残せません。\n"
                                                             "JPEG で上書きしますか？");
        QCOMPARE(b.fakes.messageBox.calls[0].style,
                 int(platform::MessageStyle::YesNo | platform::MessageStyle::Question |
                     platform::MessageStyle::SecondButtonDefault));
        QCOMPARE(b.fakes.jpegWriter.calls.size(), writes);
        b.fakes.messageBox.answers << platform::MessageAnswer::Yes;
        b.fakes.fileChooser.answers << other;
        b.save();
        QCOMPARE(b.fakes.jpegWriter.calls.size(), writes + 1);
    }

    // The dialog offers the current name as a JPEG name; Cancel leaves the
    // shared name as it was.
    void saveOffersAJpegName()
    {
        QCOMPARE(picture_files::proposedJpegName("/p/photo.png"), QStringLiteral("/p/photo.jpg"));
        QCOMPARE(picture_files::proposedJpegName("/p/page.html"), QStringLiteral("/p/page.jpg"));
        QCOMPARE(picture_files::proposedJpegName("/p/a.JPEG"), QStringLiteral("/p/a.JPEG"));
        QCOMPARE(picture_files::proposedJpegName("/p/README"), QStringLiteral("/p/README.jpg"));
        QCOMPARE(picture_files::proposedJpegName(QString()), QString());
        Bench b;
        b.dialog.FileName = QStringLiteral("/p/photo.png");
        b.save(); // cancelled
        QCOMPARE(b.fakes.fileChooser.requests.last().startPath, QStringLiteral("/p/photo.jpg"));
        QCOMPARE(b.dialog.FileName, QStringLiteral("/p/photo.png"));
        QVERIFY(b.fakes.jpegWriter.calls.isEmpty());
    }

    // A file handed over or dropped while Save asks its question changes
    // nothing of the save: the chosen name gets the picture that was current.
    void saveWorksOnWhatItReadAtItsStart()
    {
        Bench b;
        QTemporaryDir dir;
        const QString target = dir.filePath("target.jpg");
        write(target, "an original");
        b.fakes.pictureLoader.pictures[target] = picture(2, 2);
        b.fakes.trash.usable = false; // so Save asks
        b.doc.setPicture(picture(30, 20));
        const qint64 key = b.doc.picture().cacheKey();
        b.fakes.messageBox.answers << platform::MessageAnswer::Yes;
        b.fakes.messageBox.onShow = [&](const auto &call) {
            if (call.prompt.contains(QStringLiteral("ゴミ箱")))
                picture_files::openFile(b.doc, b.dialog, b.fakes.pictureLoader,
                                        QStringLiteral("/b2.png"));
        };
        b.fakes.pictureLoader.pictures["/b2.png"] = picture(7, 7);
        b.fakes.fileChooser.answers << target;
        b.save();
        QCOMPARE(b.fakes.jpegWriter.calls.size(), 1);
        QCOMPARE(b.fakes.jpegWriter.calls[0].path, target);
        QCOMPARE(b.fakes.jpegWriter.calls[0].picture.cacheKey(), key);
        QCOMPARE(b.fakes.messageBox.calls.last().prompt, QStringLiteral("JPEG変換完了♪"));
    }

    // "Written this run" is what this run left there: a file changed since by
    // anyone else goes to the trash like any other. A failed write takes its
    // trash copy back.
    void writtenFilesAreKnownByContent()
    {
        Bench b;
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.jpg");
        write(photo, "an original");
        b.fakes.pictureLoader.pictures[photo] = picture(2, 2);
        jpeg_encoder::LibjpegWriter writer;
        const auto save = [&](platform::JpegWriter &w) {
            b.fakes.fileChooser.answers << photo;
            picture_files::saveJpeg(b.doc, b.dialog,
                                    {b.fakes.pictureLoader, w, b.fakes.trash, b.fakes.messageBox});
        };
        save(writer);
        save(writer);
        QCOMPARE(b.fakes.trash.asked, QStringList{photo});
        // Another picture saved over the first one's file keeps that in the trash.
        b.doc.setPicture(picture(3, 3, Qt::red));
        save(writer);
        QCOMPARE(b.fakes.trash.asked, (QStringList{photo, photo}));
        b.fakes.trash.asked.clear();
        // Changed in place to the same size, its time put back (rsync
        // --inplace -t, touch -r): another program's file all the same.
        const QByteArray written = read(photo);
        struct stat before {
        };
        QCOMPARE(::stat(QFile::encodeName(photo).constData(), &before), 0);
        QByteArray edited = written;
        edited[edited.size() / 2] = char(edited[edited.size() / 2] ^ 1);
        write(photo, edited);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(photo).constData(), times, 0), 0);
        save(writer);
        QCOMPARE(b.fakes.trash.asked, QStringList{photo});
        write(photo, "changed by another program");
        save(writer);
        QCOMPARE(b.fakes.trash.asked, (QStringList{photo, photo}));
        QVERIFY(b.fakes.trash.takenBack.isEmpty());
        // Replaced by another file of the same size and time: still another file.
        const QString other = dir.filePath("other.jpg");
        QVERIFY(QFile::copy(photo, other));
        QFile::remove(photo);
        QVERIFY(QFile::rename(other, photo));
        save(writer);
        QCOMPARE(b.fakes.trash.asked.size(), 3);

        write(photo, "changed again");
        b.fakes.jpegWriter.result = platform::WriteResult::CannotWrite;
        save(b.fakes.jpegWriter);
        QCOMPARE(b.fakes.trash.asked.size(), 4);
        QCOMPARE(b.fakes.trash.takenBack, QStringList{photo});
        QCOMPARE(b.fakes.messageBox.calls.last().prompt,
                 QStringLiteral("ファイルが書きこめません"));
    }

    // Conversions wait for memory, not only for a worker: pictures that
    // would together break the bound are converted one after the other,
    // small ones side by side; one larger than the bound alone.
    void conversionsWaitForMemory()
    {
        // Counts the loads under way; each waits a little for a second to
        // come, so that side by side is seen wherever it is allowed.
        class CountingLoader : public platform::FakePictureLoader
        {
        public:
            QImage load(const QString &path) override
            {
                std::unique_lock hold(lock);
                most = std::max(most, ++under);
                changed.notify_all();
                changed.wait_for(hold, std::chrono::milliseconds(300), [&] { return under > 1; });
                hold.unlock();
                QImage picture = pictures.value(path);
                hold.lock();
                --under;
                return picture;
            }
            std::mutex lock;
            std::condition_variable changed;
            int under = 0, most = 0;
        };
        const auto mostAtOnce = [](int side, qint64 memory) {
            CountingLoader loader;
            platform::FakeJpegWriter writer;
            platform::FakeTrash trash;
            QList<picture_files::Conversion> batch;
            for (int i = 0; i < 4; ++i) {
                const QString in = QStringLiteral("/in%1.png").arg(i);
                loader.pictures[in] = picture(side, side);
                batch << picture_files::Conversion{in, QStringLiteral("/nowhere/o%1.jpg").arg(i)};
            }
            QString said;
            QTextStream errors(&said);
            picture_files::convertFiles(batch, {}, {loader, writer, trash, 2, memory}, errors);
            return writer.calls.size() == 4 ? loader.most : -1;
        };
        const qint64 bound = picture_files::conversionBytes(qint64(100) * 100);
        QCOMPARE(mostAtOnce(80, bound), 1);  // two of 6,400 pixels break 10,000
        QCOMPARE(mostAtOnce(60, bound), 2);  // two of 3,600 do not
        QCOMPARE(mostAtOnce(120, bound), 1); // each alone beyond the bound, and done
        QCOMPARE(mostAtOnce(80, 0), 2);      // no bound
    }

    // Two names for one file (a link): the second output would replace the
    // first, and is refused as a clash.
    void outputsThatAreOneFileOnDisk()
    {
        QTemporaryDir dir;
        const auto at = [&](const QString &name) { return dir.filePath(name); };
        QVERIFY(picture(40, 30, Qt::red).save(at("x.png")));
        QVERIFY(picture(50, 20, Qt::blue).save(at("alias.png")));
        QVERIFY(QFile::link(at("x.jpg"), at("alias.jpg")));
        platform::FakePictureLoader loader;
        loader.pictures[at("x.png")] = picture(40, 30, Qt::red);
        loader.pictures[at("alias.png")] = picture(50, 20, Qt::blue);
        jpeg_encoder::LibjpegWriter writer;
        platform::FakeTrash trash;
        QString said;
        QTextStream errors(&said);
        const QList<picture_files::Conversion> batch{{at("x.png"), at("x.jpg")},
                                                     {at("alias.png"), at("alias.jpg")}};
        QCOMPARE(picture_files::convertFiles(batch, {}, {loader, writer, trash, 1}, errors), 1);
        QVERIFY2(said.contains(QStringLiteral("と同じ出力名です")), qPrintable(said));
        QCOMPARE(QImage(at("x.jpg")).size(), QSize(40, 30));
    }

    // The desktop trash itself, in a home of its own.
    // Conversions side by side: each output its own picture, the reports in
    // the inputs' order, and a conversion that reads another's output after it.
    void conversionsSideBySide()
    {
        QTemporaryDir dir;
        const auto at = [&](const QString &name) { return dir.filePath(name); };
        const auto colour = [](int i) { return QColor(20 * i, 255 - 20 * i, 90); };
        QList<picture_files::Conversion> batch;
        for (int i = 0; i < 12; ++i) {
            const QString in = at(QStringLiteral("p%1.png").arg(i));
            QImage picture(64, 48, QImage::Format_RGB32);
            picture.fill(colour(i));
            QVERIFY(picture.save(in));
            batch << picture_files::Conversion{in, at(QStringLiteral("p%1.jpg").arg(i))};
        }
        // The first one takes long to read and is then refused: a document
        // is in the way of its output. Its report still comes first.
        {
            QImage noise(3000, 2000, QImage::Format_RGB32);
            QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(noise.bits()),
                                          noise.sizeInBytes() / 4);
            QVERIFY(noise.save(at("p0.png"), "JPEG", 95));
            QFile document(at("p0.jpg"));
            QVERIFY(document.open(QIODevice::WriteOnly));
            document.write("notes\n");
        }
        QFile broken(at("p9.png"));
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("\x89PNG not really");
        broken.close();
        QVERIFY(QFile::remove(at("p5.png")));
        platform::QtPictureLoader loader;
        jpeg_encoder::LibjpegWriter writer;
        platform::FakeTrash trash;
        QString said;
        QTextStream errors(&said);
        QCOMPARE(picture_files::convertFiles(batch, {.quality = 90, .force = false, .choices = {}},
                                             {loader, writer, trash, 4}, errors),
                 3);
        const QStringList lines = said.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].contains("p0.png") && lines[1].contains("p5.png") &&
                     lines[2].contains("p9.png"),
                 qPrintable(said));
        for (int i = 0; i < 12; ++i) {
            const QImage back(at(QStringLiteral("p%1.jpg").arg(i)), "JPEG");
            QCOMPARE(back.isNull(), i == 0 || i == 5 || i == 9);
            if (!back.isNull())
                QVERIFY(qAbs(back.pixelColor(30, 20).red() - colour(i).red()) < 8);
        }

        // b.jpg is written from a.png, then read for c.jpg: c has a's colour.
        QImage blue(64, 48, QImage::Format_RGB32), red(blue);
        blue.fill(Qt::blue);
        red.fill(Qt::red);
        QVERIFY(blue.save(at("a.png")) && red.save(at("b.jpg")));
        const QList<picture_files::Conversion> chain{{at("a.png"), at("b.jpg")},
                                                     {at("b.jpg"), at("c.jpg")}};
        QCOMPARE(picture_files::convertFiles(chain, {.quality = 90, .force = false, .choices = {}},
                                             {loader, writer, trash, 4}, errors),
                 0);
        QVERIFY(QImage(at("c.jpg")).pixelColor(30, 20).blue() > 200);
        QCOMPARE(trash.asked, QStringList{at("b.jpg")});
    }

    void desktopTrash()
    {
        QTemporaryDir home, work;
        const QByteArray oldHome = qgetenv("HOME"), oldData = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_DATA_HOME");
        const QString photo = work.filePath("桜 photo.jpg");
        write(photo, "the original bytes");
        platform::FreedesktopTrash trash;
        QVERIFY(trash.keepCopy(inFolder(photo)));
        QVERIFY(trash.keepCopy(inFolder(photo))); // a second entry of the same name
        const QString t = home.path() + "/.local/share/Trash";
        QFile kept(t + "/files/桜 photo.jpg");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("the original bytes"));
        QVERIFY(QFile::exists(t + "/files/桜 photo.jpg 2"));
        QFile info(t + "/info/桜 photo.jpg.trashinfo");
        QVERIFY(info.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(info.readAll());
        QVERIFY2(QRegularExpression("^\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-"
                                    "\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$")
                     .match(text)
                     .hasMatch(),
                 qPrintable(text));
        QCOMPARE(QUrl::fromPercentEncoding(text.section('\n', 1, 1).mid(5).toUtf8()), photo);
        // The save's replacement leaves the trash's copy as it was.
        jpeg_encoder::LibjpegWriter writer;
        QCOMPARE(writer.write(picture(4, 4), photo, 50), platform::WriteResult::Written);
        kept.seek(0);
        QCOMPARE(kept.readAll(), QByteArray("the original bytes"));
        // Taken back: the copy and its info go.
        trash.takeBack(inFolder(photo));
        QVERIFY(!QFile::exists(t + "/files/桜 photo.jpg 2"));
        QVERIFY(!QFile::exists(t + "/info/桜 photo.jpg 2.trashinfo"));
        QVERIFY(QFile::exists(t + "/files/桜 photo.jpg"));
        // A kept file whose info went missing holds its name: the next is used.
        const QString f2 = work.filePath("f2.jpg");
        write(f2, "f2");
        write(t + "/files/f2.jpg", "someone's stale entry");
        QVERIFY(trash.keepCopy(inFolder(f2)));
        QCOMPARE(QFile(t + "/files/f2.jpg 2").size(), 2);
        QVERIFY(QFile::exists(t + "/info/f2.jpg 2.trashinfo"));
        QVERIFY(!QFile::exists(t + "/info/f2.jpg.trashinfo"));
        // A trash that cannot be written to is no trash.
        if (::geteuid() != 0) {
            QFile::setPermissions(t + "/info", QFile::ReadOwner | QFile::ExeOwner);
            QVERIFY(!trash.keepCopy(inFolder(photo)));
            QFile::setPermissions(t + "/info",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QFile::remove(t + "/info");
        QDir(t + "/info").removeRecursively();
        QVERIFY(QFile(t + "/info").open(QIODevice::WriteOnly)); // a file where the folder goes
        QVERIFY(!trash.keepCopy(inFolder(photo)));
        qputenv("HOME", oldHome);
        if (!oldData.isEmpty())
            qputenv("XDG_DATA_HOME", oldData);
    }

    // The read-out: the size Save would write, after each change of picture or
    // quality, whatever changes came in between.
    void sizeReadOut()
    {
        QTemporaryDir dir;
        jpeg_encoder::LibjpegWriter writer;
        PictureDocument doc;
        QImage photo(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                photo.setPixel(x, y, qRgb(x % 256, (x * y) % 256, (y * 3) % 256));
        doc.setPicture(photo);
        doc.setJpegQuality(50);
        platform::FakeJpegDecoder decoder;
        picture_files::JpegSizeEstimate estimate(doc, writer, decoder);
        QCOMPARE(doc.jpegSize(), PictureDocument::JpegSizeComing);
        const auto written = [&](int q) {
            writer.write(doc.picture(), dir.filePath("s.jpg"), q);
            return QFileInfo(dir.filePath("s.jpg")).size();
        };
        QTRY_VERIFY(doc.jpegSize() > 0);
        QCOMPARE(doc.jpegSize(), written(50));
        doc.setJpegQuality(90);
        QCOMPARE(doc.jpegSize(), PictureDocument::JpegSizeComing);
        QTRY_VERIFY(doc.jpegSize() > 0);
        QCOMPARE(doc.jpegSize(), written(90));
        // A burst of changes: only the last one counts.
        for (int q = 0; q <= 100; q += 10)
            doc.setJpegQuality(q);
        doc.setPicture(picture(100, 60, Qt::red));
        QTRY_VERIFY(doc.jpegSize() > 0);
        QCOMPARE(doc.jpegSize(), written(100));
        doc.setPicture(QImage());
        QCOMPARE(doc.jpegSize(), PictureDocument::NoJpegSize);

        // A picture that goes while its size is worked out leaves no size behind.
        doc.setPicture(photo);
        doc.setPicture(QImage());
        bool sizeWithoutPicture = false;
        connect(&doc, &PictureDocument::jpegSizeChanged, &doc,
                [&](qint64 bytes) { sizeWithoutPicture |= bytes > 0 && doc.picture().isNull(); });
        // Long enough for the run to end even under the sanitizers.
        QVERIFY(!QTest::qWaitFor([&] { return sizeWithoutPicture; }, 2000));
        QCOMPARE(doc.jpegSize(), PictureDocument::NoJpegSize);
    }

    // --- desktop copy and clipboard import ---

    void desktopCopyPutsTheScreenOnTheClipboard()
    {
        Bench b;
        b.fakes.screenGrabber.screen = picture(1280, 1024);
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.log, (QStringList{"grabScreen", "setPicture 1280x1024", "processEvents"}));
        QVERIFY(b.views.isEmpty());
        // A screen that cannot be read leaves the clipboard as it was, and says so.
        b.fakes.log.clear();
        b.fakes.screenGrabber.screen = QImage();
        capture::copyDesktop(b.fakes.screenGrabber, b.fakes.clipboard, b.fakes.eventLoop,
                             b.fakes.messageBox);
        QCOMPARE(b.fakes.log, (QStringList{"grabScreen", "showMessage 画面を読み取れませんでした",
                                           "processEvents"}));
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
        b.doc.FileName = QStringLiteral("/kept.jpg");
        b.fakes.clipboard.content = picture(800, 97);
        capture::importClipboard(b.doc, b.fakes.clipboard);
        QCOMPARE(b.views,
                 (QStringList{"InformationWindow.showWindow", "picture 800x97", "fitToPicture"}));
        QCOMPARE(b.doc.PicWidth, 804.0f * 15);
        QCOMPARE(b.doc.PicHeight, 101 * 15);
        QCOMPARE(b.doc.FileName, QStringLiteral("/kept.jpg"));

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
        b.doc.FileName = QStringLiteral("/kept.jpg");
        b.fakes.fileChooser.answers << QStringLiteral("/pages/a.html");
        b.fakes.screenGrabber.windowPictures = {platform::drawnWindow(800, 97)};
        b.capture();
        const auto &r = b.fakes.fileChooser.requests.at(0);
        QCOMPARE(r.descriptions, QStringList{"html//htm (*.html;*.htm)"});
        QCOMPARE(r.patterns, QList<QStringList>{(QStringList{"*.html", "*.htm"})});
        QCOMPARE(r.selected, 0);
        QCOMPARE(b.fakes.log,
                 (QStringList{"create", "Visible 1", "open /pages/a.html",
                              "note ブラウザがページを表示するのを待っています…",
                              "grabWindowContent 7", "wait 6000001", "grabWindow 7",
                              "setPicture 800x97", "Visible 1", "processEvents", "Visible 1",
                              "picture", "Visible 1", "activate みぽＱＵＩＢＢＯ",
                              "showMessage キャプチャ完了", "fitToPicture"}));
        QCOMPARE(b.fakes.messageBox.calls.last().title, QStringLiteral("キャプチャ処理"));
        QCOMPARE(b.fakes.messageBox.calls.last().style, int(platform::MessageStyle::OkOnly));
        QCOMPARE(b.doc.picture().size(), QSize(800, 97));
        QCOMPARE(b.doc.PicWidth, 804.0f * 15);
        QCOMPARE(b.doc.FileName, QStringLiteral("/kept.jpg"));
        QCOMPARE(b.dialog.FileName, QStringLiteral("/pages/a.html"));
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
        // "Visible" once; the untouched text goes as it is.
        QCOMPARE(b.fakes.log, (QStringList{"ask", "create", "Visible 1", "open http//:www",
                                           "note ブラウザがページを表示するのを待っています…",
                                           "grabWindowContent 7", "wait 6000001", "grabWindow 7",
                                           "setPicture 300x200", "processEvents", "picture",
                                           "activate みぽＱＵＩＢＢＯ",
                                           "showMessage キャプチャ完了", "fitToPicture"}));
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
        QCOMPARE(b.fakes.log.mid(4, 11),
                 (QStringList{"paint 100", "paint 100", "grabWindowContent 7", "paint 100",
                              "grabWindowContent 7", "paint 100", "grabWindowContent 7",
                              "wait 6000001", "grabWindow 7", "paint 100", "grabWindow 7"}));
        QCOMPARE(b.doc.picture().pixelColor(10, 10), QColor(Qt::blue));
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
        QCOMPARE(b.fakes.log.mid(4, 3),
                 (QStringList{"wait 6000001", "grabWindow 0", "setPicture 1280x1024"}));
        QCOMPARE(b.fakes.eventLoop.painted, 0);
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

    // --- the About box's system information ---

    void systemInformationViewer()
    {
        platform::FakeProgramLauncher launcher;
        platform::FakeMessageBox messages;
        // The first viewer of the list that is installed.
        launcher.installed = {"xfce4-taskmanager", "hardinfo"};
        about::startSysInfo(launcher, messages);
        QCOMPARE(launcher.started, QStringList{"/usr/bin/hardinfo"});
        QCOMPARE(launcher.asked, (QStringList{"kinfocenter", "hardinfo"}));
        QVERIFY(messages.calls.isEmpty());
        // None, or one that does not start: the message.
        for (const QStringList &installed : {QStringList{}, QStringList{"kinfocenter"}}) {
            launcher.installed = installed;
            launcher.unstartable = {"/usr/bin/kinfocenter"};
            about::startSysInfo(launcher, messages);
            QCOMPARE(messages.calls.last().prompt,
                     QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));
            QCOMPARE(messages.calls.last().title, QStringLiteral("みぽＱＵＩＢＢＯ"));
        }
        QCOMPARE(launcher.started.size(), 1);
        QCOMPARE(messages.calls.size(), 2);
    }

    // The real launcher with a stand-in viewer on PATH.
    void systemInformationOnThisMachine()
    {
        QTemporaryDir bin;
        const QString marker = bin.filePath("started");
        const QString viewer = bin.filePath("gnome-system-monitor");
        QFile script(viewer);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$0 $#\" > '%1'\n").arg(marker).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        platform::PathProgramLauncher launcher;
        platform::FakeMessageBox messages;
        about::startSysInfo(launcher, messages);
        QVERIFY(messages.calls.isEmpty());
        QTRY_VERIFY(QFile::exists(marker));
        QFile seen(marker);
        QVERIFY(seen.open(QIODevice::ReadOnly));
        QCOMPARE(seen.readAll().trimmed(), (viewer + QStringLiteral(" 0")).toUtf8());
        // An empty search path: the message.
        QTemporaryDir empty;
        qputenv("PATH", QFile::encodeName(empty.path()));
        about::startSysInfo(launcher, messages);
        QCOMPARE(messages.calls.size(), 1);
        qputenv("PATH", oldPath);
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "test_commands.moc"
