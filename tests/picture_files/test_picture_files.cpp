// Open and Save through the main window and its information window, with the
// dialog, loader and writer doubles; and Qt's real file dialog driven once.
#include "harness.h"
#include "platform/qt/application_setup.h"
#include "platform/qt/file_chooser.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

namespace
{
const QStringList OpenDescriptions{"JPEG (*.jpg)", "BMP (*.bmp)", "GIF (*.gif)"};

QImage picture(int w, int h, QColor c = Qt::darkGreen)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

} // namespace

class TestPictureFiles : public QObject
{
    Q_OBJECT
private slots:
    void openAdoptsThePicture()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        h.fakes.pictureLoader.pictures["/photos/a.jpg"] = picture(600, 100);
        h.fakes.fileChooser.answers << QStringLiteral("/photos/a.jpg");
        QTest::mouseClick(f.openButton, Qt::LeftButton);

        QCOMPARE(h.fakes.fileChooser.requests.at(0).startPath, QString());
        QCOMPARE(h.doc().PicWidth, 604.0f * 15);
        QCOMPARE(f.pictureBox->picture().size(), QSize(600, 100));
        QCOMPARE(f.pictureBox->Width(), 604.0f * 15);
        QCOMPARE(f.pictureView->picture().cacheKey(), f.pictureBox->picture().cacheKey());
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("/photos/a.jpg"));
        QCOMPARE(f.pictureView->width(), 457); // fitted to the width
        QVERIFY(h.fakes.messageBox.calls.isEmpty());

        // The next dialog, of any command, starts where this one ended.
        f.saveItem->trigger();
        QCOMPARE(h.fakes.fileChooser.requests.at(1).startPath, QStringLiteral("/photos/a.jpg"));
    }

    void cancelChangesNothing()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        const qint64 key = f.pictureBox->picture().cacheKey();
        f.openItem->trigger(); // no answer: Cancel
        f.saveItem->trigger();
        QCOMPARE(h.fakes.fileChooser.requests.size(), 2);
        QVERIFY(h.doc().fileName.isEmpty());
        QCOMPARE(f.pictureBox->picture().cacheKey(), key);
        QCOMPARE(h.doc().PicWidth, 1020.0f);
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("NO FILE"));
        QVERIFY(h.fakes.jpegWriter.calls.isEmpty());
        QVERIFY(h.fakes.messageBox.calls.isEmpty());
        QVERIFY(h.fakes.pictureLoader.loaded.isEmpty());
        QVERIFY(!rt::ended());
    }

    void unreadableFileChangesNothing()
    {
        Harness h;
        h.start();
        MainWindow &f = h.f1();
        const qint64 key = f.pictureBox->picture().cacheKey();
        const QSize shown = f.pictureView->size();
        h.fakes.fileChooser.answers << QStringLiteral("/docs/notes.txt");
        f.openItem->trigger();
        QCOMPARE(h.fakes.pictureLoader.loaded, QStringList{"/docs/notes.txt"});
        QVERIFY(h.doc().fileName.isEmpty());
        QCOMPARE(f.pictureBox->picture().cacheKey(), key);
        QCOMPARE(f.pictureView->size(), shown);
        QCOMPARE(h.doc().PicWidth, 1020.0f);
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("NO FILE"));
        QCOMPARE(h.fakes.messageBox.calls.size(), 1);
        QVERIFY(h.fakes.messageBox.calls[0].prompt.startsWith(QStringLiteral("/docs/notes.txt")));
    }

    // From the information window's slider through the document to the writer.
    void theSlidersQualityReachesTheWriter()
    {
        Harness h;
        h.start();
        QTest::mouseClick(h.f1().saveButton, Qt::LeftButton); // cancelled
        QVERIFY(h.fakes.jpegWriter.calls.isEmpty());
        for (int q : {0, 89, 90, 100}) {
            h.f2().qualityBar->setValue(q);
            h.fakes.fileChooser.answers << QStringLiteral("/tmp/q.jpg");
            QTest::mouseClick(h.f1().saveButton, Qt::LeftButton);
            QCOMPARE(h.fakes.jpegWriter.calls.last().quality, q);
            QCOMPARE(h.fakes.jpegWriter.calls.last().picture.cacheKey(),
                     h.f1().pictureBox->picture().cacheKey());
        }
        QCOMPARE(h.fakes.messageBox.calls.last().prompt, QStringLiteral("JPEG変換完了♪"));
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("NO FILE"));
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
        h.f1().openItem->trigger();
        const QImage &surface = h.doc().picture();
        QCOMPARE(surface.format(), QImage::Format_RGB32);
        QCOMPARE(surface.pixelColor(0, 0), h.f1().pictureBox->palette().color(QPalette::Window));
        QCOMPARE(surface.pixelColor(1, 1), QColor(Qt::red));
    }

    void openLoadsAnUnloadedInformationWindowWithoutShowingIt()
    {
        Harness h;
        h.start();
        h.program->informationWindowSlot().unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        h.fakes.pictureLoader.pictures["/b.bmp"] = picture(10, 10);
        h.fakes.fileChooser.answers << QStringLiteral("/b.bmp");
        h.f1().openItem->trigger();
        QVERIFY(h.program->informationWindowSlot().loaded());
        QCOMPARE(h.f2().fileNameLabel->text(), QStringLiteral("/b.bmp"));
        QVERIFY(!h.f2().isVisible());
    }

    void filterStrings()
    {
        const auto r =
            FileDialog::parseFilter(QStringLiteral("html//htm (*.html;*.htm)|*.html;*.htm"));
        QCOMPARE(r.descriptions, QStringList{"html//htm (*.html;*.htm)"});
        QCOMPARE(r.patterns, QList<QStringList>{(QStringList{"*.html", "*.htm"})});
        const auto t = FileDialog::parseFilter(QStringLiteral("A|*.a|B|*.b|"));
        QCOMPARE(t.descriptions, (QStringList{"A", "B"}));
    }

    void realDialog()
    {
        // A home of its own: the dialogs must leave nothing in it.
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(platform::installJapaneseQtTexts());
        QStringList buttonTexts;
        QTemporaryDir dir;
        for (const char *name : {"PHOTO.JPG", "b.jpg", "c.bmp", "page.htm", "page.html"}) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        platform::QtFileChooser chooser;
        QStringList listed, shownFilters;
        int listingsCame = 0; // folders whose listing came in before the answer was typed
        QString typed = dir.filePath("new-name.jpg");
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; i < combo->count(); ++i)
                shownFilters << combo->itemText(i);
            for (const QPushButton *b : d->findChildren<QPushButton *>())
                buttonTexts << b->text();
            auto *view = d->findChild<QListView *>(QStringLiteral("listView"));
            listingsCame += QTest::qWaitFor(
                [&] { return view->model()->rowCount(view->rootIndex()) >= 2; }, 10000);
            for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
                listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
            // A typed name replaces the selected one only while the dialog
            // has the keyboard, as it has for someone typing; a loaded
            // machine may give it the keyboard after the listing.
            d->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(d));
            auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            edit->setFocus();
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
            // Typed after the listing (c.bmp alone) has come in, which selects
            // the starting name.
            listingsCame += QTest::qWaitFor(
                [&] { return view->model()->rowCount(view->rootIndex()) >= 1; }, 10000);
            auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            edit->setText(dir.filePath("PHOTO.JPG"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        r.selected = 1;
        QCOMPARE(chooser.choose(r).value_or(QString()), dir.filePath("PHOTO.JPG"));

        // Two patterns in one entry list both kinds of file.
        listed.clear();
        shownFilters.clear();
        QString startName = QStringLiteral("unread");
        typed = dir.filePath("page.htm");
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            auto *combo = d->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            shownFilters << combo->itemText(0);
            auto *view = d->findChild<QListView *>(QStringLiteral("listView"));
            listingsCame += QTest::qWaitFor(
                [&] { return view->model()->rowCount(view->rootIndex()) >= 2; }, 10000);
            for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
                listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
            startName = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
            d->reject();
        });
        const auto html =
            FileDialog::parseFilter(QStringLiteral("html//htm (*.html;*.htm)|*.html;*.htm"));
        platform::FileChooser::Request r2 = html;
        r2.startPath = dir.filePath("c.bmp");
        QVERIFY(!chooser.choose(r2).has_value());
        QCOMPARE(shownFilters, QStringList{"html//htm (*.html;*.htm)"});
        listed.sort();
        QCOMPARE(listed, (QStringList{"page.htm", "page.html"}));
        // The picture the dialog would start with is of another kind: only its folder is kept.
        QCOMPARE(startName, QString());
        QCOMPARE(listingsCame, 3);

        // A typed address goes on as it stands, not joined onto the folder
        // shown: a file: URL as its path, an absolute path, another address whole.
        QTemporaryDir elsewhere;
        const QString away = elsewhere.filePath(QStringLiteral("ページ 1.html"));
        const auto typedAnswer = [&](const QString &text) {
            QTimer::singleShot(0, [&, text] {
                auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                edit->setText(text);
                QTest::keyClick(edit, Qt::Key_Return);
            });
            return chooser.choose(r2).value_or(QStringLiteral("(cancelled)"));
        };
        QCOMPARE(typedAnswer(QUrl::fromLocalFile(away).toString(QUrl::FullyEncoded)), away);
        QCOMPARE(typedAnswer(away), away);
        QCOMPARE(typedAnswer(QStringLiteral("http://127.0.0.1:8/a?b=c")),
                 QStringLiteral("http://127.0.0.1:8/a?b=c"));

        // Qt's own texts are Japanese, and no settings file was written.
        QVERIFY2(buttonTexts.contains(QStringLiteral("キャンセル")),
                 qPrintable(buttonTexts.join(u',')));
        QVERIFY(!buttonTexts.contains(QStringLiteral("Cancel")));
        QCOMPARE(
            QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList());
        qputenv("HOME", oldHome);
        if (!oldConfig.isEmpty())
            qputenv("XDG_CONFIG_HOME", oldConfig);
    }
};

QTEST_MAIN(TestPictureFiles)
#include "test_picture_files.moc"
