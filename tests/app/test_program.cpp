// The program as a user meets it: the real executable on an X server with
// openbox, driven by real key presses; and its single-instance lock.
#include "platform/instance/lock_file_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
const QString Title = QStringLiteral("みぽＱＵＩＢＢＯ－IEキャプチャ機能付");

QString run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    if (exitCode)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The X window whose title is exactly the given one, waiting for it to appear.
QString findWindow(const QString &title, int timeoutMs = 15000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        const QString ids =
            run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name",
                                            "^" + QRegularExpression::escape(title) + "$"});
        if (!ids.isEmpty())
            return ids.split('\n').first();
        QTest::qWait(100);
    }
    return {};
}

struct Started {
    QProcess process;
    explicit Started(const QStringList &args = {},
                     const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("MIPOQUIBBO_EXE"), args);
    }
    ~Started()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// A picture of one colour, unlike anything else on screen.
const QColor Marker(0x12, 0xab, 0x34);
QString markerPicture(const QTemporaryDir &dir)
{
    QImage img(300, 200, QImage::Format_RGB32);
    img.fill(Marker);
    QString path = dir.filePath(QStringLiteral("marker.png"));
    img.save(path);
    return path;
}

// Whether the screen shows the marker picture, waiting a while for it.
bool markerOnScreen(int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("screen.png"));
    while (t.elapsed() < timeoutMs) {
        QProcess::execute(QStringLiteral("import"), {"-window", "root", shot});
        const QImage screen(shot);
        int near = 0;
        for (int y = 0; y < screen.height(); y += 2)
            for (int x = 0; x < screen.width(); x += 2)
                near += screen.pixelColor(x, y) == Marker;
        if (near > 1000)
            return true;
        QTest::qWait(300);
    }
    return false;
}

void key(const QString &window, const QString &keys)
{
    int code = 0;
    run(QStringLiteral("xdotool"), {"windowactivate", "--sync", window}, &code);
    QTest::qWait(200);
    run(QStringLiteral("xdotool"), {"key", "--clearmodifiers", keys}, &code);
    QCOMPARE(code, 0);
}
} // namespace

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo(qEnvironmentVariable("MIPOQUIBBO_EXE")).isExecutable());
    }

    void secondStartReportsAndLeavesTheFirstAlone()
    {
        Started first;
        const QString main = findWindow(Title);
        QVERIFY(!main.isEmpty());

        Started second;
        const QString box = findWindow(QStringLiteral("二重起動"));
        QVERIFY2(!box.isEmpty(), "no message box titled 二重起動");
        QVERIFY(second.process.state() == QProcess::Running);
        key(box, QStringLiteral("Return"));
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        // Only one main window, still there.
        QCOMPARE(first.process.state(), QProcess::Running);
        QCOMPARE(findWindow(Title), main);
    }

    void endMenuItemEndsTheProgram()
    {
        Started p;
        const QString main = findWindow(Title);
        QVERIFY(!main.isEmpty());
        // On a loaded machine the menu may open only after the "e" was sent; the
        // key then went to the main window, where it does nothing. Close any
        // half-opened menu and try again rather than fail on timing.
        // waitForFinished() is false for a process that already ended while waiting.
        const auto ended = [&] { return p.process.state() == QProcess::NotRunning; };
        for (int attempt = 0; attempt < 5 && !ended(); ++attempt) {
            key(main, QStringLiteral("Escape"));
            key(main, QStringLiteral("alt+f"));
            QTest::qWait(500 + attempt * 500);
            run(QStringLiteral("xdotool"), {"key", "e"});
            p.process.waitForFinished(3000);
        }
        QVERIFY(ended());
        QCOMPARE(p.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.process.exitCode(), 0);
    }

    void closingTheMainWindowEndsTheProgram()
    {
        Started p;
        const QString main = findWindow(Title);
        QVERIFY(!main.isEmpty());
        key(main, QStringLiteral("alt+F4"));
        QVERIFY(p.process.waitForFinished(10000));
        QCOMPARE(p.process.exitCode(), 0);
    }

    void aCrashedInstanceDoesNotBlockTheNext()
    {
        {
            Started crashed;
            QVERIFY(!findWindow(Title).isEmpty());
            crashed.process.kill(); // SIGKILL: no clean-up at all
            crashed.process.waitForFinished();
        }
        Started next;
        QVERIFY(!findWindow(Title).isEmpty());
        QTest::qWait(500);
        QVERIFY(findWindow(QStringLiteral("二重起動"), 300).isEmpty());
        QCOMPARE(next.process.state(), QProcess::Running);
    }

    // A second start with a file gives it to the first and ends quietly.
    void secondStartHandsItsFileOver()
    {
        Started first;
        QVERIFY(!findWindow(Title).isEmpty());
        QTemporaryDir dir;
        Started second({markerPicture(dir)});
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(findWindow(QStringLiteral("二重起動"), 500).isEmpty());
        QVERIFY(markerOnScreen());
        QCOMPARE(first.process.state(), QProcess::Running);
    }

    // Something else where the socket goes is neither spoken to nor removed:
    // the second start says so as before.
    void aPlantedFileIsNotFollowed()
    {
        Started first;
        QVERIFY(!findWindow(Title).isEmpty());
        const QString socket = platform::LockFileInstance::socketPath();
        QTRY_VERIFY(QFileInfo::exists(socket));
        QVERIFY(QFile::remove(socket));
        QFile planted(socket);
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write("planted");
        planted.close();
        QTemporaryDir dir;
        Started second({markerPicture(dir)});
        const QString box = findWindow(QStringLiteral("二重起動"));
        QVERIFY(!box.isEmpty());
        key(box, QStringLiteral("Return"));
        QVERIFY(second.process.waitForFinished(10000));
        QVERIFY(planted.open(QIODevice::ReadOnly));
        QCOMPARE(planted.readAll(), QByteArray("planted"));
        QVERIFY(!markerOnScreen(1000));
        planted.remove();
    }

    // After a crash the next start with a file is the first again, and opens it.
    void afterACrashTheNextStartOpensItsFile()
    {
        {
            Started crashed;
            QVERIFY(!findWindow(Title).isEmpty());
            QTRY_VERIFY(QFileInfo::exists(platform::LockFileInstance::socketPath()));
            crashed.process.kill(); // SIGKILL: the socket stays behind
            crashed.process.waitForFinished();
        }
        QVERIFY(QFileInfo::exists(platform::LockFileInstance::socketPath()));
        QTemporaryDir dir;
        Started next({markerPicture(dir)});
        QVERIFY(!findWindow(Title).isEmpty());
        QVERIFY(markerOnScreen());
        QCOMPARE(next.process.state(), QProcess::Running);
    }

    // The hand-over under attack: callers that say nothing, drip, lie about
    // their length or come by the thousand hold up no one; a path with a
    // newline arrives whole; a socket path too long for a socket address
    // still works.
    void handOverUnderAttack()
    {
        namespace ho = platform::hand_over;
        QTemporaryDir dir;
        QStringList got;
        QObject context;
        const auto deliver = [&](const QString &path) { got << path; };
        const QString socket = dir.filePath("h.sock");
        {
            ho::Server server;
            QVERIFY(server.listen(socket, &context, deliver));
            const auto connected = [&] {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_un a{};
                a.sun_family = AF_UNIX;
                const QByteArray p = QFile::encodeName(socket);
                std::memcpy(a.sun_path, p.constData(), size_t(p.size()));
                return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 ? fd : -1;
            };
            // A silent caller, and one that drips a byte now and then.
            const int silent = connected();
            QVERIFY(silent >= 0);
            std::atomic_bool dripCut{false};
            std::thread drip([&] {
                const int fd = connected();
                for (int i = 0; i < 20 && !dripCut; ++i) {
                    if (::send(fd, "\0", 1, MSG_NOSIGNAL) != 1)
                        dripCut = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(150));
                }
                ::close(fd);
            });
            // A length over the limit is cut off at once.
            const int liar = connected();
            const uint32_t huge = htonl(1u << 30);
            QCOMPARE(::send(liar, &huge, 4, MSG_NOSIGNAL), ssize_t(4));
            char byte = 0;
            QCOMPARE(::recv(liar, &byte, 1, 0), ssize_t(0));
            ::close(liar);
            // A thousand callers that come and go.
            for (int i = 0; i < 1000; ++i)
                ::close(connected());

            QElapsedTimer clock;
            clock.start();
            const QString odd = dir.filePath("pic\nx.png");
            QVERIFY(ho::send(socket, odd));
            qInfo("hand-over beside the attackers: %lld ms", clock.elapsed());
            QTRY_COMPARE(got, QStringList{odd});
            drip.join();
            QVERIFY(dripCut); // cut off at the deadline, not served for 3 s
            ::close(silent);
        }
        QVERIFY(!QFileInfo::exists(socket)); // removed with its server

        // 200 bytes of folder: over a socket address's 108. Another program
        // that holds the abstract name made from such a path (any user may
        // take one first) changes nothing: the socket is still a file in the
        // folder, which only its owner can write.
        const QString deep = dir.filePath(QString(200, u'd') + QStringLiteral("/h.sock"));
        QVERIFY(QDir(dir.path()).mkdir(QString(200, u'd')));
        const int squatter = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un taken{};
        taken.sun_family = AF_UNIX;
        const QByteArray name =
            "mipoquibbo-" + QByteArray::number(::getuid()) + '-' +
            QCryptographicHash::hash(QFile::encodeName(deep), QCryptographicHash::Sha256)
                .toHex()
                .left(32);
        std::memcpy(taken.sun_path + 1, name.constData(), size_t(name.size()));
        QCOMPARE(::bind(squatter, reinterpret_cast<sockaddr *>(&taken),
                        socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()))),
                 0);
        QCOMPARE(::listen(squatter, 4), 0);
        ho::Server server;
        QVERIFY(server.listen(deep, &context, deliver));
        QVERIFY(ho::send(deep, QStringLiteral("/photos/long.jpg")));
        QTRY_COMPARE(got.last(), QStringLiteral("/photos/long.jpg"));
        QVERIFY(QFileInfo(deep).exists());
        ::close(squatter);
        // Nobody listening: a plain no.
        QVERIFY(!ho::send(dir.filePath("none.sock"), QStringLiteral("/a.jpg")));
    }

    void lockIsPerUserAndDisplay()
    {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME"), oldRuntime = qgetenv("XDG_RUNTIME_DIR"),
                         oldDisplay = qgetenv("DISPLAY");
        qputenv("HOME", home.path().toUtf8());

        // No runtime folder: a private folder of the user's.
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("DISPLAY", ":7");
        const QString path = platform::LockFileInstance::lockPath();
        QCOMPARE(path, home.path() + "/.cache/mipoquibbo/mipoquibbo-_7.lock");
        struct stat st {
        };
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(path).path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);

        // A runtime folder others can write to is not trusted.
        QTemporaryDir shared;
        ::chmod(QFile::encodeName(shared.path()).constData(), 0777);
        qputenv("XDG_RUNTIME_DIR", shared.path().toUtf8());
        QVERIFY(!platform::LockFileInstance::lockPath().startsWith(shared.path()));

        // A private one is used, with the display in the name.
        ::chmod(QFile::encodeName(shared.path()).constData(), 0700);
        QCOMPARE(platform::LockFileInstance::lockPath(), shared.path() + "/mipoquibbo-_7.lock");
        {
            platform::LockFileInstance one, two, other;
            QVERIFY(!one.previousInstance());
            QVERIFY(!one.previousInstance()); // asking again does not find itself
            QVERIFY(two.previousInstance());
            qputenv("DISPLAY", ":8");
            QVERIFY(!other.previousInstance()); // another display session
        }
        qputenv("DISPLAY", ":7");
        {
            platform::LockFileInstance after;
            QVERIFY(!after.previousInstance()); // released with its owner
        }
        {
            // One display under its other names: still one copy.
            platform::LockFileInstance first, screen, unix;
            QVERIFY(!first.previousInstance());
            qputenv("DISPLAY", ":7.0");
            QVERIFY(screen.previousInstance());
            qputenv("DISPLAY", "unix:7.1");
            QVERIFY(unix.previousInstance());
        }

        // A link planted where the private folder goes is neither followed nor changed.
        QTemporaryDir home2, elsewhere;
        qputenv("HOME", home2.path().toUtf8());
        qunsetenv("XDG_RUNTIME_DIR");
        QVERIFY(QDir(home2.path()).mkdir(".cache"));
        ::chmod(QFile::encodeName(elsewhere.path()).constData(), 0755);
        QVERIFY(QFile::link(elsewhere.path(), home2.path() + "/.cache/mipoquibbo"));
        QCOMPARE(platform::LockFileInstance::lockPath(), QString());
        ::stat(QFile::encodeName(elsewhere.path()).constData(), &st);
        QCOMPARE(int(st.st_mode & 0777), 0755);

        qputenv("HOME", oldHome);
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
        qputenv("DISPLAY", oldDisplay);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
