// Open and Save through the main window, with the dialog, loader and (mostly)
// encoder doubles; and Qt's real file dialog driven once.
#include "harness.h"
#include "platform/libjpeg_encoder.h"
#include "platform/linux_services.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

namespace
{
const QStringList OpenDescriptions{"JPEG (*.jpg)", "BMP (*.bmp)", "GIF (*.gif)"};
const QStringList SaveDescriptions{"JPEG (*.jpg)", "BMP (*.bmp)"};

QImage picture(int w, int h, QColor c = Qt::darkGreen)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

const QString SaveTitle = QStringLiteral("保存情況");
} // namespace

class TestPictureFiles : public QObject
{
    Q_OBJECT
private slots:
    void openAdoptsThePicture()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        h.fakes.pictureLoader.pictures["/photos/a.jpg"] = picture(600, 100);
        h.fakes.fileChooser.answers << QStringLiteral("/photos/a.jpg");
        QTest::mouseClick(f.Command1, Qt::LeftButton);

        const auto &r = h.fakes.fileChooser.requests.at(0);
        QVERIFY(!r.save);
        QCOMPARE(r.descriptions, OpenDescriptions);
        QCOMPARE(r.patterns, (QList<QStringList>{{"*.jpg"}, {"*.bmp"}, {"*.gif"}}));
        QCOMPARE(r.selected, 1); // BMP
        QCOMPARE(r.startPath, QString());

        QCOMPARE(f.FileName, QStringLiteral("/photos/a.jpg"));
        QCOMPARE(f.PicWidth, 604.0f * 15);
        QCOMPARE(f.PicHeight, 104 * 15);
        QCOMPARE(f.Picture1->picture().size(), QSize(600, 100));
        QCOMPARE(f.Picture1->ScaleWidth(), 600.0f);
        QCOMPARE(f.Image1->picture().cacheKey(), f.Picture1->picture().cacheKey());
        QCOMPARE(h.f2().Label1->text(), QStringLiteral("/photos/a.jpg"));
        QCOMPARE(f.Image1->width(), 457); // fitted to the width
        QVERIFY(h.fakes.messageBox.calls.isEmpty());

        // The next dialog, of any command, starts where this one ended.
        f.mnusave->trigger();
        QCOMPARE(h.fakes.fileChooser.requests.at(1).startPath, QStringLiteral("/photos/a.jpg"));
    }

    void cancelChangesNothing()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        const qint64 key = f.Picture1->picture().cacheKey();
        f.mnuopen->trigger(); // no answer: Cancel
        f.mnusave->trigger();
        QCOMPARE(h.fakes.fileChooser.requests.size(), 2);
        QVERIFY(f.FileName.isEmpty());
        QCOMPARE(f.Picture1->picture().cacheKey(), key);
        QCOMPARE(f.PicWidth, 1020.0f);
        QCOMPARE(h.f2().Label1->text(), QStringLiteral("NO FILE"));
        QVERIFY(h.fakes.jpegEncoder.calls.isEmpty());
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
        QVERIFY(h.fakes.pictureLoader.loaded.isEmpty());
        QVERIFY(!rt::ended());
    }

    void unreadableFileChangesTheNameOnly()
    {
        Harness h;
        h.start();
        Form1 &f = h.f1();
        const qint64 key = f.Picture1->picture().cacheKey();
        const QSize shown = f.Image1->size();
        h.fakes.fileChooser.answers << QStringLiteral("/docs/notes.txt");
        f.mnuopen->trigger();
        QCOMPARE(h.fakes.pictureLoader.loaded, QStringList{"/docs/notes.txt"});
        QCOMPARE(f.FileName, QStringLiteral("/docs/notes.txt"));
        QCOMPARE(f.Picture1->picture().cacheKey(), key);
        QCOMPARE(f.Image1->size(), shown);
        QCOMPARE(f.PicWidth, 1020.0f);
        QCOMPARE(h.f2().Label1->text(), QStringLiteral("NO FILE"));
        QVERIFY(h.fakes.messageBox.calls.isEmpty());

        // The previous picture is the one Save writes.
        h.fakes.fileChooser.answers << QStringLiteral("/tmp/out.jpg");
        f.mnusave->trigger();
        QCOMPARE(h.fakes.jpegEncoder.calls.size(), 1);
        QCOMPARE(h.fakes.jpegEncoder.calls[0].hdc, f.Picture1->hDC());
        QCOMPARE(h.fakes.jpegEncoder.calls[0].width, 64);
    }

    void saveReportsEachResult_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("0") << 0 << "JPEG変換完了♪";
        QTest::newRow("1") << 1 << "ファイルがオープンできません";
        QTest::newRow("2") << 2 << "ファイルが書きこめません";
        QTest::newRow("3") << 3 << "フォーマットエラーです";
        QTest::newRow("4") << 4 << "スタックオーバーフローです";
        QTest::newRow("5") << 5 << QString();
        QTest::newRow("-1") << -1 << QString();
    }

    void saveReportsEachResult()
    {
        QFETCH(int, result);
        QFETCH(QString, message);
        Harness h;
        h.start();
        Form1 &f = h.f1();
        h.fakes.jpegEncoder.result = int16_t(result);
        h.fakes.fileChooser.answers << QStringLiteral("/tmp/保存.jpg");
        QTest::mouseClick(f.Command2, Qt::LeftButton);

        const auto &r = h.fakes.fileChooser.requests.at(0);
        QVERIFY(r.save);
        QCOMPARE(r.descriptions, SaveDescriptions);
        QCOMPARE(r.selected, 0);
        QCOMPARE(h.fakes.jpegEncoder.calls.size(), 1);
        const auto &call = h.fakes.jpegEncoder.calls[0];
        QCOMPARE(call.fileName, QStringLiteral("/tmp/保存.jpg").toUtf8());
        QCOMPARE(call.quality, uint8_t(50)); // the untouched slider
        QCOMPARE(call.reserved, 0);
        QCOMPARE(call.width, 64); // the start-up picture, before any Open
        QCOMPARE(call.height, 64);
        QCOMPARE(f.FileName, QStringLiteral("/tmp/保存.jpg"));
        // The information window keeps its text.
        QCOMPARE(h.f2().Label1->text(), QStringLiteral("NO FILE"));
        if (message.isEmpty()) {
            QVERIFY(h.fakes.messageBox.calls.isEmpty());
        } else {
            QCOMPARE(h.fakes.messageBox.calls.size(), 1);
            QCOMPARE(h.fakes.messageBox.calls[0].prompt, message);
            QCOMPARE(h.fakes.messageBox.calls[0].title, SaveTitle);
            QCOMPARE(h.fakes.messageBox.calls[0].style, int(platform::vbOKOnly));
        }
    }

    void qualityZeroReachesTheEncoder()
    {
        Harness h;
        h.start();
        h.f2().HScroll1->setValue(0);
        h.fakes.fileChooser.answers << QStringLiteral("/tmp/q0.jpg");
        h.f1().mnusave->trigger();
        QCOMPARE(h.fakes.jpegEncoder.calls.at(0).quality, uint8_t(0));
    }

    void savingWritesJpegWhateverTheName()
    {
        Harness h;
        platform::LibjpegEncoder encoder;
        h.services.jpegEncoder = &encoder;
        h.program = std::make_unique<Program>(h.services);
        h.start();
        QTemporaryDir dir;
        for (const QString &name : {QStringLiteral("noext"), QStringLiteral("写真.bmp")}) {
            h.fakes.fileChooser.answers << dir.filePath(name);
            h.f1().mnusave->trigger();
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.read(3), QByteArray("\xFF\xD8\xFF"));
            f.close();
            QImage back(dir.filePath(name), "JPEG");
            QCOMPARE(back.size(), QSize(64, 64)); // the start-up logo
        }
        // Its transparent corners were filled with the box's background.
        const QImage back(dir.filePath("noext"), "JPEG");
        const QColor face = h.f1().Picture1->palette().color(QPalette::Window);
        QVERIFY(qAbs(back.pixelColor(0, 0).red() - face.red()) < 10);
        QVERIFY(qAbs(back.pixelColor(0, 0).blue() - face.blue()) < 10);
    }

    void aDocumentIsNotOverwrittenWithoutAsking()
    {
        Harness h;
        h.start();
        QTemporaryDir dir;
        const QString page = dir.filePath("page.html");
        QFile f(page);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html><body>mine</body></html>");
        f.close();

        h.fakes.messageBox.answers << platform::vbNo;
        h.fakes.fileChooser.answers << page;
        h.f1().mnusave->trigger();
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].title, SaveTitle);
        QCOMPARE(h.fakes.messageBox.calls[0].style,
                 int(platform::vbYesNo | platform::vbQuestion | platform::vbDefaultButton2));
        QVERIFY(h.fakes.messageBox.calls[0].prompt.contains(page));
        QVERIFY(h.fakes.jpegEncoder.calls.isEmpty());

        h.fakes.messageBox.answers << platform::vbYes;
        h.fakes.fileChooser.answers << page;
        h.f1().mnusave->trigger();
        QCOMPARE(h.fakes.jpegEncoder.calls.size(), 1);

        // A picture the loader reads is replaced without a question.
        h.fakes.messageBox.calls.clear();
        h.fakes.pictureLoader.pictures[page] = picture(2, 2);
        h.fakes.fileChooser.answers << page;
        h.f1().mnusave->trigger();
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QCOMPARE(h.fakes.messageBox.calls[0].prompt, QStringLiteral("JPEG変換完了♪"));
    }

    void transparentPixelsShowTheBoxBackground()
    {
        Harness h;
        h.start();
        QImage gif(4, 4, QImage::Format_ARGB32);
        gif.fill(Qt::transparent);
        gif.setPixelColor(1, 1, Qt::red);
        h.fakes.pictureLoader.pictures["/a.gif"] = gif;
        h.fakes.fileChooser.answers << QStringLiteral("/a.gif");
        h.f1().mnuopen->trigger();
        const QImage &surface = *h.f1().Picture1->hDC();
        QCOMPARE(surface.format(), QImage::Format_RGB32);
        QCOMPARE(surface.pixelColor(0, 0), h.f1().Picture1->palette().color(QPalette::Window));
        QCOMPARE(surface.pixelColor(1, 1), QColor(Qt::red));
    }

    void openLoadsAnUnloadedInformationWindowWithoutShowingIt()
    {
        Harness h;
        h.start();
        h.program->form2Slot().unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        h.fakes.pictureLoader.pictures["/b.bmp"] = picture(10, 10);
        h.fakes.fileChooser.answers << QStringLiteral("/b.bmp");
        h.f1().mnuopen->trigger();
        QVERIFY(h.program->form2Slot().loaded());
        QCOMPARE(h.f2().Label1->text(), QStringLiteral("/b.bmp"));
        QVERIFY(!h.f2().isVisible());
    }

    void filterStrings()
    {
        const auto r =
            CommonDialog::parseFilter(QStringLiteral("html//htm (*.html;*.htm)|*.html;*.htm"));
        QCOMPARE(r.descriptions, QStringList{"html//htm (*.html;*.htm)"});
        QCOMPARE(r.patterns, QList<QStringList>{(QStringList{"*.html", "*.htm"})});
        const auto t = CommonDialog::parseFilter(QStringLiteral("A|*.a|B|*.b|"));
        QCOMPARE(t.descriptions, (QStringList{"A", "B"}));
    }

    void realDialog()
    {
        QTemporaryDir dir;
        for (const char *name : {"PHOTO.JPG", "b.jpg", "c.bmp", "page.htm", "page.html"}) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        platform::QtFileChooser chooser;
        QStringList listed, shownFilters;
        QString typed = dir.filePath("new-name.jpg");
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; i < combo->count(); ++i)
                shownFilters << combo->itemText(i);
            auto *view = d->findChild<QListView *>(QStringLiteral("listView"));
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 2; },
                                  2000);
            for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
                listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
            auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            edit->setText(typed);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        platform::FileChooser::Request r;
        r.descriptions = OpenDescriptions;
        r.patterns = {{"*.jpg"}, {"*.bmp"}, {"*.gif"}};
        r.selected = 0;
        r.startPath = dir.filePath("b.jpg");
        const std::optional<QString> chosen = chooser.choose(r);
        QCOMPARE(shownFilters, OpenDescriptions);
        listed.sort();
        QCOMPARE(listed, (QStringList{"PHOTO.JPG", "b.jpg"}));
        QVERIFY(chosen.has_value());
        QCOMPARE(*chosen, typed); // a file that does not exist is accepted

        // A JPEG typed while the BMP entry is selected is returned all the same.
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            auto *view = d->findChild<QListView *>(QStringLiteral("listView"));
            // Typed after the listing has come in, which selects the starting name.
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 2; },
                                  2000);
            auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            edit->setText(dir.filePath("PHOTO.JPG"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        r.selected = 1;
        QCOMPARE(chooser.choose(r).value_or(QString()), dir.filePath("PHOTO.JPG"));

        // Two patterns in one entry list both kinds of file.
        listed.clear();
        shownFilters.clear();
        typed = dir.filePath("page.htm");
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            shownFilters << combo->itemText(0);
            auto *view = d->findChild<QListView *>(QStringLiteral("listView"));
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 2; },
                                  2000);
            for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
                listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
            d->reject();
        });
        const auto html =
            CommonDialog::parseFilter(QStringLiteral("html//htm (*.html;*.htm)|*.html;*.htm"));
        platform::FileChooser::Request r2 = html;
        r2.startPath = dir.filePath("c.bmp");
        QVERIFY(!chooser.choose(r2).has_value());
        QCOMPARE(shownFilters, QStringList{"html//htm (*.html;*.htm)"});
        // (Qt also lists the name the dialog starts with.)
        QVERIFY(listed.contains("page.htm") && listed.contains("page.html"));
        QVERIFY(!listed.contains("b.jpg") && !listed.contains("PHOTO.JPG"));
    }
};

QTEST_MAIN(TestPictureFiles)
#include "test_picture_files.moc"
