// The command line of the real executable, with no display at all.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{
struct Ran {
    int status = -1;
    QString out, err;
};

// The executable in the folder given (the test's own by default), with the
// home given for its trash.
Ran run(const QStringList &args, const QString &folder = {}, const QString &home = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "XDG_DATA_HOME"})
        env.remove(QString::fromLatin1(name));
    if (!home.isEmpty())
        env.insert(QStringLiteral("HOME"), home);
    p.setProcessEnvironment(env);
    if (!folder.isEmpty())
        p.setWorkingDirectory(folder);
    p.start(qEnvironmentVariable("MIPOQUIBBO_EXE"), args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

void picture(const QString &path, QColor c, const char *format = "PNG")
{
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(c);
    QVERIFY(img.save(path, format));
}
} // namespace

class TestCli : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString at(const QString &name) { return dir.filePath(name); }

private slots:
    void helpAndVersionNeedNoDisplay()
    {
        const Ran help = run({"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains("--quality") && help.out.contains("--output-dir"));
        const Ran version = run({"--version"});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out.trimmed(), QStringLiteral("mipoquibbo 1.3.0"));
    }

    void wrongUseGivesUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("quality above") << QStringList{"--quality", "101", "--output", "o.jpg", "i"};
        QTest::newRow("quality below") << QStringList{"--quality", "-1", "--output", "o.jpg", "i"};
        QTest::newRow("quality not a number")
            << QStringList{"--quality", "good", "--output", "o", "i"};
        QTest::newRow("unknown option") << QStringList{"--fast", "a.jpg"};
        QTest::newRow("no output") << QStringList{"--quality", "50", "a.jpg"};
        QTest::newRow("both outputs") << QStringList{"--output", "o", "--output-dir", "d", "a"};
        QTest::newRow("two inputs, one output") << QStringList{"--output", "o.jpg", "a", "b"};
        QTest::newRow("no input") << QStringList{"--output", "o.jpg"};
    }

    void wrongUseGivesUsage()
    {
        QFETCH(QStringList, args);
        const Ran r = run(args);
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("使い方"));
    }

    void convertsWithoutAWindow()
    {
        picture(at("red.png"), Qt::red);
        const Ran one = run({"--quality", "90", "--output", at("red.jpg"), at("red.png")});
        QCOMPARE(one.status, 0);
        QVERIFY(one.err.isEmpty());
        QImage back(at("red.jpg"), "JPEG");
        QCOMPARE(back.size(), QSize(64, 48));
        QVERIFY(back.pixelColor(10, 10).red() > 240);

        // Several into a folder; a broken one among them is reported by name,
        // and the output it would have had stays as it was.
        QDir().mkdir(at("out"));
        QStringList inputs;
        for (int i = 0; i < 20; ++i) {
            picture(at(QStringLiteral("p%1.bmp").arg(i)), QColor(i * 10, 80, 40), "BMP");
            inputs << at(QStringLiteral("p%1.bmp").arg(i));
        }
        QFile broken(at("broken.gif"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("GIF89a not really");
        broken.close();
        inputs.insert(7, at("broken.gif"));
        QFile kept(at("out/broken.jpg"));
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.write("keep");
        kept.close();
        const Ran many = run(QStringList{"--output-dir", at("out")} + inputs);
        QCOMPARE(many.status, 1);
        QVERIFY2(many.err.contains(at("broken.gif")), qPrintable(many.err));
        QCOMPARE(many.err.count('\n'), 1);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(QImage(at(QStringLiteral("out/p%1.jpg").arg(i)), "JPEG").size(),
                     QSize(64, 48));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("keep"));
        // A missing input: named, status 1.
        const Ran missing = run({"--output", at("m.jpg"), at("nothing-here.png")});
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.err.contains("nothing-here.png"));
        QVERIFY(!QFile::exists(at("m.jpg")));
    }

    // The converter loses no file: two inputs on one output name, an input
    // written over itself, a document in the way, a folder that is not there.
    // Transparent parts take the picture box's face, as in the window; the
    // rest keeps its colour.
    // A HEIC whose pictures say 64×64, over which libheif allocated three
    // planes of 810 MB (4.7 GB and 19 s in all): refused before that.
    void aSmallHeicNeverTakesGigabytes()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/time")))
            QSKIP("needs /usr/bin/time");
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(
            QStringLiteral("/usr/bin/time"),
            {"-f", "peak %M", qEnvironmentVariable("MIPOQUIBBO_EXE"), "--output", at("grid.jpg"),
             QStringLiteral(MIPO_FUZZ_REGRESSIONS
                            "/fuzz_loader/refused-heic-grid-far-larger-than-its-picture.heic")});
        QVERIFY(p.waitForFinished(120000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("読める画像ではありません")), qPrintable(err));
        const qsizetype at = err.lastIndexOf(QStringLiteral("peak "));
        QVERIFY(at >= 0);
        const long peakKb = err.mid(at + 5).trimmed().toLong();
        QVERIFY2(peakKb > 0 && peakKb < 1'000'000, qPrintable(err));
        QVERIFY(!QFile::exists(this->at("grid.jpg")));
    }

    void transparencyIsLaidOnTheFace()
    {
        QImage img(64, 48, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        for (int y = 0; y < 48; ++y)
            for (int x = 32; x < 64; ++x)
                img.setPixel(x, y, qRgb(200, 30, 30));
        QVERIFY(img.save(at("clear.png"), "PNG"));
        QCOMPARE(run({"--quality", "100", "--output", at("clear.jpg"), at("clear.png")}).status, 0);
        const QImage back(at("clear.jpg"), "JPEG");
        const auto near = [](QRgb a, QRgb b) {
            return qAbs(qRed(a) - qRed(b)) < 6 && qAbs(qGreen(a) - qGreen(b)) < 6 &&
                   qAbs(qBlue(a) - qBlue(b)) < 6;
        };
        QVERIFY(near(back.pixel(8, 24), qRgb(240, 240, 240)));
        QVERIFY(near(back.pixel(56, 24), qRgb(200, 30, 30)));
    }

    void conversionsLoseNothing()
    {
        QTemporaryDir work, home;
        const auto in = [&](const QString &name) { return work.filePath(name); };
        const auto read = [](const QString &path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QString trash = home.filePath(".local/share/Trash/files/");
        QVERIFY(QDir(work.path()).mkpath("sub") && QDir(work.path()).mkpath("od"));
        picture(in("red.png"), Qt::red);
        picture(in("sub/red.png"), Qt::blue);
        picture(in("red.bmp"), Qt::green, "BMP");
        const Ran clash = run({"--output-dir", "od", "red.png", "sub/red.png", "red.bmp"},
                              work.path(), home.path());
        QCOMPARE(clash.status, 1);
        QVERIFY2(clash.err.contains("sub/red.png") && clash.err.contains("red.bmp"),
                 qPrintable(clash.err));
        QCOMPARE(clash.err.count('\n'), 2);
        QVERIFY(QImage(in("od/red.jpg")).pixelColor(5, 5).red() > 200); // the first input's

        // Over itself: the original goes to the trash first.
        QVERIFY(QImage(in("red.png")).save(in("c.jpg"), "JPEG", 95));
        const QByteArray original = read(in("c.jpg"));
        QCOMPARE(run({"--output-dir", ".", "c.jpg"}, work.path(), home.path()).status, 0);
        QCOMPARE(read(trash + "c.jpg"), original);
        QVERIFY(read(in("c.jpg")) != original);

        // A document is not replaced without --force; with it, it is kept in the trash.
        picture(in("b.bmp"), Qt::yellow, "BMP");
        QFile notes(in("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("my notes");
        notes.close();
        const Ran refused = run({"--output", "notes.txt", "b.bmp"}, work.path(), home.path());
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains("--force"), qPrintable(refused.err));
        QCOMPARE(read(in("notes.txt")), QByteArray("my notes"));
        QCOMPARE(
            run({"--force", "--output", "notes.txt", "b.bmp"}, work.path(), home.path()).status, 0);
        QCOMPARE(read(trash + "notes.txt"), QByteArray("my notes"));
        QCOMPARE(QImage(in("notes.txt"), "JPEG").size(), QSize(64, 48));

        // A missing output folder is named as such.
        const Ran noFolder = run({"--output-dir", "nowhere", "b.bmp"}, work.path(), home.path());
        QCOMPARE(noFolder.status, 1);
        QVERIFY2(noFolder.err.contains("出力先のフォルダがありません"), qPrintable(noFolder.err));

        // After "--" a file called --help is a file.
        QVERIFY(QFile::copy(in("b.bmp"), in("--help")));
        const Ran named = run({"--output", "h.jpg", "--", "--help"}, work.path(), home.path());
        QCOMPARE(named.status, 0);
        QVERIFY(!named.out.contains("使い方"));
        QCOMPARE(QImage(in("h.jpg"), "JPEG").size(), QSize(64, 48));
        // An option's value is never an option: the output is called --help.
        QFile::remove(in("--help"));
        const Ran valued = run({"--output", "--help", "b.bmp"}, work.path(), home.path());
        QCOMPARE(valued.status, 0);
        QVERIFY(!valued.out.contains("使い方"));
        QCOMPARE(QImage(in("--help"), "JPEG").size(), QSize(64, 48));
        // A file for the windows with no display to show them on: said, not aborted.
        const Ran noDisplay = run({"--", "--help"}, work.path(), home.path());
        QCOMPARE(noDisplay.status, 1);
        QVERIFY2(noDisplay.err.contains("画面がありません"), qPrintable(noDisplay.err));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
