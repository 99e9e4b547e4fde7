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

Ran run(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
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
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
