#include "command_bench.h"

using namespace command_bench;

class TestDesktopTrash : public QObject
{
    Q_OBJECT
private slots:
    void init() { rt::resetEnd(); }

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
};

QTEST_GUILESS_MAIN(TestDesktopTrash)
#include "test_desktop_trash.moc"
