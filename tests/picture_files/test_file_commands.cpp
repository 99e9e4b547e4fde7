#include "command_bench.h"

using namespace command_bench;

class TestFileCommands : public QObject
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
        QCOMPARE(b.doc.fileName, QStringLiteral("/photos/a.jpg"));
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
            b.dialog.fileName = QString::fromUtf8(file);
            b.open(); // cancelled
            QCOMPARE(b.fakes.fileChooser.requests.last().selected, entry);
        }
    }

    void openCancelledOrUnreadable()
    {
        Bench b;
        const qint64 key = b.doc.picture().cacheKey();
        b.open(); // no answer: Cancel
        QVERIFY(b.doc.fileName.isEmpty());
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
        QVERIFY(b.doc.fileName.isEmpty());
        QVERIFY(b.dialog.fileName.isEmpty());
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
        QCOMPARE(b.doc.fileName, QStringLiteral("/photos/a.jpg"));
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
        QCOMPARE(b.doc.fileName, QStringLiteral("/in/given.gif"));
        QCOMPARE(b.doc.PicWidth, 304.0f * 15);
        QCOMPARE(b.dialog.fileName, QStringLiteral("/in/given.gif"));
        b.views.clear();
        QVERIFY(!picture_files::openFile(b.doc, b.dialog, b.fakes.pictureLoader, "/in/unreadable"));
        QCOMPARE(b.doc.fileName, QStringLiteral("/in/given.gif"));
        QCOMPARE(b.dialog.fileName, QStringLiteral("/in/given.gif"));
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
        QCOMPARE(b.doc.fileName, QStringLiteral("/tmp/保存.jpg"));
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
            QCOMPARE(b.doc.fileName, dir.filePath(name));
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
        b.dialog.fileName = QStringLiteral("/p/photo.png");
        b.save(); // cancelled
        QCOMPARE(b.fakes.fileChooser.requests.last().startPath, QStringLiteral("/p/photo.jpg"));
        QCOMPARE(b.dialog.fileName, QStringLiteral("/p/photo.png"));
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
};

QTEST_GUILESS_MAIN(TestFileCommands)
#include "test_file_commands.moc"
