// The program's own binary replacing files under attack and under kills: a
// folder swapped for a link while it writes, a kill at each step of the
// replacement, file systems without extended attributes or with names that
// ignore case, no /proc, no usable home. Mounts are made in a mount
// namespace of this test's own; what needs root or mounting is skipped
// without them.
#include "files.h"
#include "platform/files/file_names.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
struct Ran {
    int status = -1; // -1: ended by a signal
    QString errors;
};

QByteArray enc(const QString &path)
{
    return platform::nameBytes(path);
}

// A picture with detail, so that encoding it takes a while.
QImage noise(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    quint32 seed = 99;
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = 0xff000000u | (seed >> 8);
        }
    }
    return img;
}

// A small JPEG to be replaced: a picture, so the program may replace it.
QByteArray originalJpeg()
{
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "JPEG");
    return bytes;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

void ageBy(const QString &path, int seconds)
{
    const timespec old[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, enc(path).constData(), old, 0), 0);
}
} // namespace

class TestReplacingFiles : public QObject
{
    Q_OBJECT
    QTemporaryDir dir, home;
    bool canMount = false;
    QString at(const QString &name) const { return dir.filePath(name); }

    // The program with these arguments (after a prefix such as strace), its
    // home the test's own unless told otherwise.
    Ran run(const QStringList &args, const QStringList &prefix = {},
            const std::function<void(QProcessEnvironment &)> &change = {}) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.remove("XDG_DATA_HOME");
        if (change)
            change(env);
        p.setProcessEnvironment(env);
        const QString exe = qEnvironmentVariable("MIPOQUIBBO_EXE");
        if (prefix.isEmpty())
            p.start(exe, args);
        else
            p.start(prefix.first(), prefix.mid(1) + QStringList{exe} + args);
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardError())};
    }

    // The program under strace, killed when it first makes one of the calls.
    Ran killedAt(const QString &calls, const QStringList &args) const
    {
        return run(args, {QStringLiteral("strace"), QStringLiteral("-f"), QStringLiteral("-qq"),
                          QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-e"),
                          QStringLiteral("inject=%1:signal=KILL").arg(calls)});
    }

    static bool hasStrace()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty() &&
               QProcess::execute(QStringLiteral("strace"),
                                 {QStringLiteral("-qq"), QStringLiteral("-o"),
                                  QStringLiteral("/dev/null"), QStringLiteral("true")}) == 0;
    }

    QString trashFiles() const { return home.filePath(".local/share/Trash/files"); }

private slots:
    void initTestCase()
    {
        QVERIFY(!qEnvironmentVariableIsEmpty("MIPOQUIBBO_EXE"));
        QVERIFY(noise(1200, 900).save(at("in.png")));
        // Mounts of our own, seen by this test and the programs it starts only.
        canMount = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }

    void init()
    {
        QDir(trashFiles()).removeRecursively();
        QDir(home.filePath(".local/share/Trash/info")).removeRecursively();
    }

    // Root converts over a file in another user's folder; that user swaps
    // the folder for a link to root's private folder the moment the
    // program opens it. Root's own file of that name stays as it was, and
    // nothing the other user may write or own lands there.
    void folderSwappedDuringTheSave()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to act for two users");
        QVERIFY(QDir(dir.path()).mkpath("private"));
        QVERIFY(QDir(dir.path()).mkpath("user"));
        ::chmod(enc(at("private")).constData(), 0700);
        const QByteArray theirs = originalJpeg();
        write(at("private/photo.jpg"), "root's own");
        ::chown(enc(at("user")).constData(), 65534, 65534);
        write(at("user/photo.jpg"), theirs);
        ::chown(enc(at("user/photo.jpg")).constData(), 65534, 65534);
        ::chmod(enc(at("user/photo.jpg")).constData(), 0666);
        QVERIFY(noise(2400, 1600).save(at("big.png")));

        const int watch = ::inotify_init1(IN_CLOEXEC);
        QVERIFY(::inotify_add_watch(watch, enc(at("user")).constData(), IN_OPEN) >= 0);
        std::atomic_bool swapped{false}, over{false};
        std::thread attacker([&] {
            // The folder itself opened (an event without a name), not a file in it.
            alignas(inotify_event) char events[64 * (sizeof(inotify_event) + 256)];
            while (!over) {
                pollfd p{watch, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t got = ::read(watch, events, sizeof events);
                for (ssize_t at = 0; at < got;) {
                    const auto *e = reinterpret_cast<const inotify_event *>(events + at);
                    if (e->len == 0) {
                        ::rename(enc(this->at("user")).constData(),
                                 enc(this->at("user-moved")).constData());
                        swapped = ::symlink(enc(this->at("private")).constData(),
                                            enc(this->at("user")).constData()) == 0;
                        return;
                    }
                    at += ssize_t(sizeof(inotify_event) + e->len);
                }
            }
        });
        const Ran r = run({"--quality", "80", "--output", at("user/photo.jpg"), at("big.png")});
        over = true;
        attacker.join();
        ::close(watch);
        QVERIFY(swapped);
        QCOMPARE(read(at("private/photo.jpg")), QByteArray("root's own"));
        QCOMPARE(entries(at("private")), QStringList{"photo.jpg"});
        // Written where the program had opened the folder, or refused.
        if (r.status == 0) {
            struct stat st {
            };
            QCOMPARE(::stat(enc(at("user-moved/photo.jpg")).constData(), &st), 0);
            QCOMPARE(int(st.st_uid), 0);
            QCOMPARE(int(st.st_mode & 0022), 0);
            QCOMPARE(QImage(at("user-moved/photo.jpg")).size(), QSize(2400, 1600));
            QCOMPARE(read(trashFiles() + "/photo.jpg"), theirs);
        } else {
            QCOMPARE(read(at("user-moved/photo.jpg")), theirs);
        }
    }

    // Killed before the new file takes the name: the old one is whole and no
    // trash entry claims it was replaced. Killed at the rename itself: the
    // complete temporary that is left goes with a later save into the folder.
    void killsLeaveNoTrashEntryNorTemporary()
    {
        if (!hasStrace())
            QSKIP("strace cannot trace here");
        QVERIFY(QDir(dir.path()).mkpath("kills"));
        const QString photo = at("kills/photo.jpg");
        const QByteArray original = originalJpeg();
        write(photo, original);
        const QStringList args{"--output", photo, at("in.png")};

        QCOMPARE(killedAt("fsync", args).status, -1);
        QCOMPARE(read(photo), original);
        QCOMPARE(entries(trashFiles()), QStringList());
        QCOMPARE(entries(at("kills")), QStringList{"photo.jpg"});

        QCOMPARE(killedAt("rename,renameat,renameat2", args).status, -1);
        QCOMPARE(read(photo), original);
        const QStringList left = entries(at("kills"));
        QCOMPARE(left.size(), 2);
        const QString temporary = at("kills/" + left.filter(QStringLiteral(".part")).value(0));
        QCOMPARE(QImage(temporary).size(), QSize(1200, 900));
        // What a later run finds: a temporary nobody holds, not written for an hour.
        ageBy(temporary, 3600);
        QCOMPARE(run({"--output", at("kills/other.jpg"), at("in.png")}).status, 0);
        QCOMPARE(entries(at("kills")), (QStringList{"other.jpg", "photo.jpg"}));
    }

    // On a file system without extended attributes (ramfs), a killed save's
    // temporary is still known for ours and goes with the next save there.
    void staleTemporariesWithoutAttributes()
    {
        if (!canMount || !hasStrace())
            QSKIP("needs root, mounts and strace");
        QVERIFY(QDir(dir.path()).mkpath("ramfs"));
        QCOMPARE(::mount("none", enc(at("ramfs")).constData(), "ramfs", 0, nullptr), 0);
        const QString photo = at("ramfs/photo.jpg");
        const QByteArray original = originalJpeg();
        write(photo, original);
        QCOMPARE(killedAt("rename,renameat,renameat2", {"--output", photo, at("in.png")}).status,
                 -1);
        // (The old file's trash is the one at the top of that file system.)
        const QStringList left = entries(at("ramfs"));
        const QStringList temporary = left.filter(QStringLiteral(".part"));
        QCOMPARE(left.size(), 3);
        QCOMPARE(temporary.size(), 1);
        ageBy(at("ramfs/" + temporary.first()), 3600);
        QCOMPARE(run({"--output", at("ramfs/next.jpg"), at("in.png")}).status, 0);
        QStringList now = entries(at("ramfs"));
        now.sort();
        QCOMPARE(now, (QStringList{".Trash-0", "next.jpg", "photo.jpg"}));
        QCOMPARE(read(photo), original);
        ::umount(enc(at("ramfs")).constData());
    }

    // Without /proc (a chroot, a sandbox) a save still works, for root and
    // for another user.
    void savesWithoutProc()
    {
        if (!canMount)
            QSKIP("needs root and mounts");
        QVERIFY(QDir(dir.path()).mkpath("noproc"));
        ::chown(enc(at("noproc")).constData(), 65534, 65534);
        ::chmod(enc(dir.path()).constData(), 0755);
        const QString hide = QStringLiteral("mount -t tmpfs none /proc && exec \"$@\"");
        const QStringList asRoot{"unshare", "-m", "sh", "-c", hide, "sh"};
        if (run({"--version"}, asRoot).status != 0)
            QSKIP("this build cannot start without /proc (the sanitizers read it)");
        QCOMPARE(run({"--output", at("noproc/root.jpg"), at("in.png")}, asRoot).status, 0);
        QCOMPARE(QImage(at("noproc/root.jpg")).size(), QSize(1200, 900));
        const QStringList asNobody =
            asRoot + QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        const Ran r = run({"--output", at("noproc/nobody.jpg"), at("in.png")}, asNobody,
                          [](QProcessEnvironment &env) { env.insert("HOME", "/nonexistent"); });
        QVERIFY2(r.status == 0, qPrintable(r.errors));
        QCOMPARE(QImage(at("noproc/nobody.jpg")).size(), QSize(1200, 900));
        // Replacing needs the trash, which nobody has: refused, then forced.
        QCOMPARE(run({"--output", at("noproc/nobody.jpg"), at("in.png")}, asNobody,
                     [](QProcessEnvironment &env) { env.insert("HOME", "/nonexistent"); })
                     .status,
                 1);
        QCOMPARE(run({"--force", "--output", at("noproc/nobody.jpg"), at("in.png")}, asNobody,
                     [](QProcessEnvironment &env) { env.insert("HOME", "/nonexistent"); })
                     .status,
                 0);
    }

    // With $HOME unset, or pointing where no trash can be made, the trash is
    // the one in the home the password database gives, never one at the
    // top of the system's own file system.
    void trashWithoutAUsableHome()
    {
        if (!canMount)
            QSKIP("needs root and mounts");
        // The password database's home, a scratch one for this test.
        const passwd *root = ::getpwuid(0); // NOLINT(concurrency-mt-unsafe): one thread here
        QVERIFY(root && root->pw_dir);
        const QByteArray passwordHome = root->pw_dir;
        QTemporaryDir scratch; // on the file system of the file, as a home usually is
        QCOMPARE(::mount(enc(scratch.path()).constData(), passwordHome.constData(), nullptr,
                         MS_BIND, nullptr),
                 0);
        const bool topTrashBefore = QFileInfo::exists("/.Trash-0");
        const QByteArray old = originalJpeg();
        for (const char *value : {"", "/proc"}) {
            write(at("nohome.jpg"), old);
            const Ran r = run({"--output", at("nohome.jpg"), at("in.png")}, {},
                              [&](QProcessEnvironment &env) {
                                  if (*value)
                                      env.insert("HOME", value);
                                  else
                                      env.remove("HOME");
                              });
            QVERIFY2(r.status == 0, qPrintable(r.errors));
            QCOMPARE(read(passwordHome + "/.local/share/Trash/files/nohome.jpg"), old);
            QDir(passwordHome + "/.local").removeRecursively();
        }
        QCOMPARE(QFileInfo::exists("/.Trash-0"), topTrashBefore);
        ::umount(passwordHome.constData());
    }

    // Two outputs whose names differ in case alone, onto FAT: the second is
    // a clash, reported, and the first stays.
    void caseInsensitiveOutputFolder()
    {
        if (!canMount || QStandardPaths::findExecutable("fusefat").isEmpty() ||
            QStandardPaths::findExecutable("mkfs.vfat").isEmpty())
            QSKIP("needs root, mounts, fusefat and mkfs.vfat");
        const QString image = at("fat.img");
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(16 << 20));
        f.close();
        QCOMPARE(QProcess::execute("mkfs.vfat", {"-n", "STICK", image}), 0);
        QVERIFY(QDir(dir.path()).mkpath("fat"));
        QCOMPARE(QProcess::execute("fusefat", {"-o", "rw+", image, at("fat")}), 0);
        QVERIFY(QDir(dir.path()).mkpath("a") && QDir(dir.path()).mkpath("b"));
        QVERIFY(noise(40, 30).save(at("a/Photo.png")));
        QVERIFY(noise(50, 20).save(at("b/photo.png")));
        const Ran r = run({"--output-dir", at("fat"), at("a/Photo.png"), at("b/photo.png")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.errors.contains(QStringLiteral("と同じ出力名です")), qPrintable(r.errors));
        const QStringList written = QDir(at("fat")).entryList({"*.jpg"}, QDir::Files);
        QCOMPARE(written.size(), 1);
        QCOMPARE(QImage(at("fat/") + written.first()).size(), QSize(40, 30));
        QProcess::execute("fusermount", {"-u", at("fat")});
    }

    // File names are the bytes they are, from the command line to the file.
    void namesThatAreNotUtf8()
    {
        const QByteArray input = enc(dir.path()) + "/bad\xff.png";
        const QByteArray output = enc(dir.path()) + "/o\xfe.jpg";
        QVERIFY(QFile::copy(at("in.png"), at("plain.png")));
        QCOMPARE(::rename(enc(at("plain.png")).constData(), input.constData()), 0);
        // Started with the very bytes: QProcess would pass them as UTF-8.
        const QByteArray exe = qgetenv("MIPOQUIBBO_EXE");
        const pid_t child = ::fork();
        if (child == 0) {
            const char *argv[] = {exe.constData(), "--output", output.constData(),
                                  input.constData(), nullptr};
            ::execv(argv[0], const_cast<char **>(argv));
            ::_exit(127);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        struct stat st {
        };
        QCOMPARE(::stat(output.constData(), &st), 0);
        QVERIFY(st.st_size > 1000);
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/o\uFFFD.jpg")));
    }
};

QTEST_GUILESS_MAIN(TestReplacingFiles)
#include "test_replacing_files.moc"
