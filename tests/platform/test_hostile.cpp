// Hostile pictures for the loader and hostile targets for the encoder, as an
// attacker would hand them over: crafted files, sparse giants, pipes that go
// away, links planted by other users.
#include "core/runtime.h"
#include "files.h"
#include "jpeg_encoder/writer.h"
#include "platform/picture_io/picture_checks.h"
#include "platform/picture_io/picture_loader.h"
#include "platform/portal/portal_screenshot.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

#include <thread>

#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <dirent.h>
#include <unistd.h>

namespace
{
QImage noise(int w, int h, QImage::Format format = QImage::Format_RGB32)
{
    QImage img(w, h, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = 0xff000000u | (seed >> 8);
        }
    }
    return img.convertToFormat(format);
}

QByteArray jpegOf(const QImage &img, bool progressive = false)
{
    QByteArray bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::WriteOnly);
    QImageWriter w(&b, "jpeg");
    w.setProgressiveScanWrite(progressive);
    w.write(img);
    return bytes;
}

// Sets the frame's height and width, as a crafted header would claim them.
QByteArray withSize(QByteArray jpeg, int width, int height)
{
    for (int i = 2; i + 8 < jpeg.size();) {
        const int m = uchar(jpeg[i + 1]);
        if (m == 0xC0 || m == 0xC2) {
            jpeg[i + 5] = char(height >> 8);
            jpeg[i + 6] = char(height);
            jpeg[i + 7] = char(width >> 8);
            jpeg[i + 8] = char(width);
            break;
        }
        i += 2 + ((uchar(jpeg[i + 2]) << 8) | uchar(jpeg[i + 3]));
    }
    return jpeg;
}

// Everything up to the first scan's coded data.
QByteArray headerOf(const QByteArray &jpeg)
{
    const qsizetype sos = jpeg.indexOf("\xFF\xDA");
    return jpeg.left(sos + 2 + ((uchar(jpeg[sos + 2]) << 8) | uchar(jpeg[sos + 3])));
}

// A progressive file whose last scan (with the tables before it) comes again
// and again: decoders accept it with a warning, and spend time on each.
QByteArray manyScans(int count)
{
    const QByteArray jpeg = jpegOf(noise(64, 64, QImage::Format_Grayscale8), true);
    const qsizetype sos = jpeg.lastIndexOf("\xFF\xDA");
    const qsizetype tables = jpeg.lastIndexOf("\xFF\xC4", sos);
    const qsizetype from = tables > 0 ? tables : sos;
    const QByteArray last = jpeg.mid(from, jpeg.size() - 2 - from);
    return jpeg.left(jpeg.size() - 2) + last.repeated(count) + QByteArray("\xFF\xD9", 2);
}

QByteArray gifScreen(int width, int height)
{
    QByteArray g("GIF89a", 6);
    g += char(width & 0xFF);
    g += char(width >> 8);
    g += char(height & 0xFF);
    g += char(height >> 8);
    g += QByteArray("\x80\x00\x00\x00\x00\x00\xff\xff\xff", 9); // two colours
    g += QByteArray("\x2c\0\0\0\0\x01\0\x01\0\x00\x02\x02\x44\x01\x00\x3b", 16);
    return g;
}

// The bytes placed so that they end where a page nobody may read begins.
class Guarded
{
public:
    explicit Guarded(const QByteArray &bytes)
    {
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        pages_ = (size_t(bytes.size()) + page - 1) / page + 1;
        base_ = static_cast<char *>(::mmap(nullptr, pages_ * page, PROT_READ | PROT_WRITE,
                                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ::mprotect(base_ + (pages_ - 1) * page, page, PROT_NONE);
        data_ = base_ + (pages_ - 1) * page - size_t(bytes.size());
        std::memcpy(data_, bytes.constData(), size_t(bytes.size()));
        size_ = bytes.size();
    }
    ~Guarded() { ::munmap(base_, pages_ * size_t(::sysconf(_SC_PAGESIZE))); }
    QByteArray bytes() const { return QByteArray::fromRawData(data_, size_); }

private:
    char *base_ = nullptr, *data_ = nullptr;
    size_t pages_ = 0;
    qsizetype size_ = 0;
};

// A one-picture icon file around a PNG, its directory saying 256x256 as
// icons of that size and larger do.
QByteArray iconAround(const QImage &picture)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    const auto le = [](quint32 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i)
            b += char((v >> (8 * i)) & 0xff);
        return b;
    };
    return le(0, 2) + le(1, 2) + le(1, 2) + le(0, 4) + le(1, 2) + le(32, 2) +
           le(quint32(png.size()), 4) + le(22, 4) + png;
}

QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

// What the program flushed to disk, in order: "file" or "folder" a call
// (fsync is wrapped at link time for this test).
QStringList synced;
} // namespace

// The folders the program read through, in order (fdopendir is wrapped too).
QStringList listed;

// The names the linker's --wrap gives the real and the wrapped function.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" DIR *__real_fdopendir(int fd);
extern "C" DIR *__wrap_fdopendir(int fd)
{
    listed << QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
    return __real_fdopendir(fd);
}

extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd)
{
    struct stat st {
    };
    if (::fstat(fd, &st) == 0)
        synced << (S_ISDIR(st.st_mode) ? QStringLiteral("folder") : QStringLiteral("file"));
    return __real_fsync(fd);
}
// NOLINTEND(bugprone-reserved-identifier)

class TestHostile : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString at(const QString &name) { return dir.filePath(name); }

private slots:
    // Each file is loaded in a child process, from disk and (unless sparse)
    // from a buffer that ends at an unreadable page: the child's fate, time
    // and peak memory are the verdict.
    void loaderUnderAttack_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("sparseSize"); // > 0: the file is extended to this, sparse
        QTest::addColumn<bool>("accepted");

        const QByteArray photo = jpegOf(noise(200, 150));
        // Fill bytes to the end, on a page boundary: a walk that reads past them faults.
        QByteArray fill = photo.left(20);
        fill += QByteArray(qsizetype(4) * 4096 - fill.size(), '\xFF');
        QTest::newRow("fill bytes to the page's end") << fill << qint64(0) << false;
        QTest::newRow("plain photo") << photo << qint64(0) << true;
        QTest::newRow("progressive photo") << jpegOf(noise(200, 150), true) << qint64(0) << true;
        QTest::newRow("trailing bytes after the end marker")
            << photo + QByteArray(100, '\0') << qint64(0) << true;
        QTest::newRow("ends in fill bytes after its scan")
            << photo.left(photo.size() - 2) + QByteArray(300, '\xFF') << qint64(0) << false;
        QTest::newRow("a few dozen scans") << manyScans(40) << qint64(0) << true;
        QTest::newRow("20000 scans") << manyScans(20000) << qint64(0) << false;
        const QByteArray header = headerOf(photo);
        QTest::newRow("4 GiB sparse, no end") << header << (qint64(4) << 30) << false;
        const QByteArray grey = jpegOf(noise(16, 16, QImage::Format_Grayscale8));
        QTest::newRow("100 MB sparse under an 8000x8000 header")
            << headerOf(withSize(grey, 8000, 8000)) << qint64(100) * 1000 * 1000 << false;
        QTest::newRow("progressive 110 MP: coefficients beyond the budget")
            << withSize(jpegOf(noise(16, 16), true), 10000, 11000) << qint64(0) << false;
        QTest::newRow("gif: 1x1 frame on an 11600x11600 screen")
            << gifScreen(11600, 11600) << qint64(0) << false;
        QTest::newRow("gif: 1x1 frame on a 40x40 screen") << gifScreen(40, 40) << qint64(0) << true;
        QTest::newRow("gif: a NUL after its trailer")
            << gifScreen(40, 40) + QByteArray(1, '\0') << qint64(0) << true;
        QTest::newRow("gif: cut off in its data")
            << gifScreen(40, 40).left(24) << qint64(0) << false;
        QTest::newRow("gif: no trailer") << gifScreen(40, 40).chopped(1) << qint64(0) << false;
        QImage huge(11000, 11000, QImage::Format_Mono);
        huge.fill(0);
        QTest::newRow("ico: an 11000x11000 PNG inside") << iconAround(huge) << qint64(0) << false;
        QTest::newRow("ico: a 48x48 PNG inside") << iconAround(noise(48, 48)) << qint64(0) << true;
    }

    void loaderUnderAttack()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, sparseSize);
        QFETCH(bool, accepted);
        const QString path = at("attack");
        write(path, bytes);
        if (sparseSize > 0)
            QCOMPARE(::truncate(enc(path).constData(), sparseSize), 0);
        const Guarded guarded(bytes);

        QElapsedTimer clock;
        clock.start();
        const pid_t pid = ::fork();
        if (pid == 0) {
            platform::QtPictureLoader loader;
            bool fromFile = true;
            try {
                (void)loader.load(path);
            } catch (const rt::RuntimeError &) {
                fromFile = false;
            }
            bool fromMemory = fromFile;
            if (sparseSize == 0) {
                QBuffer device;
                device.setData(guarded.bytes());
                device.open(QIODevice::ReadOnly);
                platform::picture_checks::walkJpeg(device, platform::QtPictureLoader::limits());
                fromMemory = !platform::QtPictureLoader::decode(device).isNull();
            }
            ::_exit(fromFile != fromMemory ? 3 : fromFile ? 1 : 0);
        }
        int status = 0;
        rusage usage{};
        QCOMPARE(::wait4(pid, &status, 0, &usage), pid);
        const qint64 ms = clock.elapsed();
        qInfo("%lld ms, peak %ld kB", ms, usage.ru_maxrss);
        QVERIFY2(WIFEXITED(status), "the loader crashed");
        QVERIFY2(WEXITSTATUS(status) != 3, "file and memory disagree");
        QCOMPARE(WEXITSTATUS(status) == 1, accepted);
        // Refusals come from the headers and the marker walk: small (their time
        // is for a benchmark to watch).
        if (!accepted)
            QVERIFY2(usage.ru_maxrss < 200L * 1024,
                     qPrintable(QStringLiteral("%1 kB").arg(usage.ru_maxrss)));
    }

    void saveOntoHostileTargets()
    {
        const QImage img = noise(600, 600);

        // A pipe whose reader leaves after one byte: an error, not the end of us.
        const QString fifo = at("fifo");
        QCOMPARE(::mkfifo(enc(fifo).constData(), 0600), 0);
        // The reader's end is open before the save opens its own, so the save
        // always finds a reader, however late the thread runs.
        const int readEnd = ::open(enc(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(readEnd >= 0);
        ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) & ~O_NONBLOCK);
        std::atomic_bool readOne{false};
        std::thread reader([&] {
            // A read now would see no writer yet and end at once: wait for a byte.
            pollfd ready{readEnd, POLLIN, 0};
            char c;
            if (::poll(&ready, 1, -1) == 1 && ::read(readEnd, &c, 1) == 1)
                readOne = true;
            ::close(readEnd);
        });
        const WriteResult written = save(img, fifo, 90);
        if (!readOne) {
            // Nothing came: release the reader so the test ends with its verdict.
            const int writeEnd = ::open(enc(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writeEnd >= 0) {
                (void)!::write(writeEnd, "x", 1);
                ::close(writeEnd);
            }
        }
        reader.join();
        QCOMPARE(written, WriteResult::CannotWrite);

        // A file the user may not write.
        write(at("ro.jpg"), "keep me");
        ::chmod(enc(at("ro.jpg")).constData(), 0444);
        QCOMPARE(save(img, at("ro.jpg")), WriteResult::CannotOpen);
        QCOMPARE(read(at("ro.jpg")), QByteArray("keep me"));

        // The longest name the file system takes.
        const QString longName = at(QString(251, u'n') + QStringLiteral(".jpg"));
        QCOMPARE(save(img, longName), WriteResult::Written);
        QCOMPARE(QImage(longName).size(), img.size());

        // A loop of links, and a chain longer than the kernel follows: refused,
        // every link left as it was.
        QVERIFY(QFile::link(at("loop-b"), at("loop-a")));
        QVERIFY(QFile::link(at("loop-a"), at("loop-b")));
        QCOMPARE(save(img, at("loop-a")), WriteResult::CannotOpen);
        QVERIFY(QFileInfo(at("loop-a")).isSymLink() && QFileInfo(at("loop-b")).isSymLink());
        write(at("chain-end.jpg"), "end");
        QString next = at("chain-end.jpg");
        for (int i = 0; i < 41; ++i) {
            const QString link = at(QStringLiteral("chain-%1").arg(i));
            QVERIFY(QFile::link(next, link));
            next = link;
        }
        QCOMPARE(save(img, next), WriteResult::CannotOpen);
        QCOMPARE(read(at("chain-end.jpg")), QByteArray("end"));
        QCOMPARE(save(img, at("chain-39")), WriteResult::Written); // 40 links: followed
        QCOMPARE(QImage(at("chain-end.jpg")).size(), img.size());

        // What a save killed half-way left behind goes with the first save
        // there (its mark says it is ours); a temporary that may still be
        // written stays, and so does a user's own file that merely has such a
        // name, however old.
        QVERIFY(QDir(dir.path()).mkdir("later"));
        const auto stale = [&](const char *name, bool marked) {
            const QString path = at(QStringLiteral("later/") + QLatin1String(name));
            write(path, "stale");
            if (marked)
                QCOMPARE(::setxattr(enc(path).constData(), "user.mipoquibbo.temporary", "1", 1, 0),
                         0);
            const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            ::utimensat(AT_FDCWD, enc(path).constData(), old, 0);
        };
        stale(".mipo-AbC123", true);
        stale(".mipo-Notes1", false);
        write(at("later/.mipo-XyZ789"), "in use");
        // Today's temporaries are told by their name alone (no file system
        // needs extended attributes for it), unless a save still holds them.
        stale(".mipoquibbo-AbCd1234.part", false);
        stale(".mipoquibbo-HeLd5678.part", false);
        const int held = ::open(enc(at("later/.mipoquibbo-HeLd5678.part")).constData(), O_RDONLY);
        QCOMPARE(::flock(held, LOCK_EX), 0);
        stale(".mipoquibbo-notes.part", false);
        QCOMPARE(save(img, at("later/after.jpg")), WriteResult::Written);
        ::close(held);
        QCOMPARE(QDir(at("later")).entryList({".mipo*"}, QDir::Files | QDir::Hidden),
                 (QStringList{".mipo-Notes1", ".mipo-XyZ789", ".mipoquibbo-HeLd5678.part",
                              ".mipoquibbo-notes.part"}));
        QCOMPARE(read(at("later/.mipo-Notes1")), QByteArray("stale"));
        // The saved file keeps no mark of having been a temporary.
        QVERIFY(::getxattr(enc(at("later/after.jpg")).constData(), "user.mipoquibbo.temporary",
                           nullptr, 0) < 0);
    }

    // A file another program names (the desktop portal's screenshot) is read
    // only when it is a regular file: a FIFO with no writer, a link, or a
    // device answer at once with nothing.
    void namedPictureFilesAreOnlyRegularFiles()
    {
        const QString fifo = at("portal.fifo");
        QCOMPARE(::mkfifo(enc(fifo).constData(), 0600), 0);
        // (Were the FIFO opened for reading, this would wait for a writer forever.)
        QVERIFY(platform::readPictureFile(fifo).isNull());
        QVERIFY(platform::readPictureFile(QStringLiteral("/dev/zero")).isNull());
        const QString real = at("shot.png");
        QVERIFY(noise(20, 10).save(real));
        QCOMPARE(platform::readPictureFile(real).size(), QSize(20, 10));
        QVERIFY(QFile::link(real, at("shot-link.png")));
        QVERIFY(platform::readPictureFile(at("shot-link.png")).isNull());
    }

    // Many saves into one folder read it once: a batch grows with its size,
    // not with its square.
    void manySavesReadTheirFolderOnce()
    {
        QVERIFY(QDir(dir.path()).mkdir("batch"));
        const QImage img = noise(8, 8);
        listed.clear();
        for (int i = 0; i < 50; ++i)
            QCOMPARE(save(img, at(QStringLiteral("batch/p%1.jpg").arg(i))), WriteResult::Written);
        QCOMPARE(listed.count(at("batch")), 1);
    }

    // A replacement is on disk before it takes the name, and the name after:
    // a power loss never leaves the name on an empty file.
    void replacementIsFlushed()
    {
        write(at("flushed.jpg"), "old");
        synced.clear();
        QCOMPARE(save(noise(16, 16), at("flushed.jpg")), WriteResult::Written);
        QCOMPARE(synced, (QStringList{"file", "folder"}));
    }

    // Temporary names come from the kernel's randomness: names made in
    // advance from a fixed seed (what a fresh process's rand() gives) do not
    // make a save fail.
    void temporaryNamesAreUnpredictable()
    {
        QVERIFY(QDir(dir.path()).mkdir("names"));
        static constexpr char Letters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        std::srand(1);
        for (int i = 0; i < 100; ++i) {
            QString name = QStringLiteral("names/.mipo-");
            // The very names a weak generator gives, on purpose.
            for (int k = 0; k < 6;
                 ++k) // NOLINTNEXTLINE(cert-msc30-c,cert-msc50-cpp,concurrency-mt-unsafe)
                name += QLatin1Char(Letters[std::rand() % (sizeof Letters - 1)]);
            write(at(name), "taken");
        }
        std::srand(1);
        QCOMPARE(save(noise(16, 16), at("names/a.jpg")), WriteResult::Written);
    }

    // Another user's link in a shared sticky folder is not followed; the link's
    // owner and group survive a replacement. Both need other users' files: root only.
    void otherUsersFiles()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to make files of another user");
        const QImage img = noise(40, 40);
        QTemporaryDir shared;
        const QByteArray sharedPath = enc(shared.path());
        ::chmod(sharedPath.constData(), 01777);
        write(at("victim.jpg"), "victim");
        const QString link = shared.filePath("planted.jpg");
        QVERIFY(QFile::link(at("victim.jpg"), link));
        QCOMPARE(::lchown(enc(link).constData(), 65534, 65534), 0);
        QCOMPARE(save(img, link), WriteResult::CannotOpen);
        QCOMPARE(read(at("victim.jpg")), QByteArray("victim"));
        // The folder's owner may plant links there, as the kernel allows.
        ::chown(sharedPath.constData(), 65534, 65534);
        QCOMPARE(save(img, link), WriteResult::Written);
        QCOMPARE(QImage(at("victim.jpg")).size(), img.size());

        // Root never hands its file to another user, nor lets others write it.
        write(at("theirs.jpg"), "theirs");
        QCOMPARE(::chown(enc(at("theirs.jpg")).constData(), 65534, 100), 0);
        QCOMPARE(::chmod(enc(at("theirs.jpg")).constData(), 0666), 0);
        QCOMPARE(save(img, at("theirs.jpg")), WriteResult::Written);
        struct stat st {
        };
        QCOMPARE(::stat(enc(at("theirs.jpg")).constData(), &st), 0);
        QCOMPARE(int(st.st_uid), 0);
        QCOMPARE(int(st.st_gid), 0);
        QCOMPARE(int(st.st_mode & 0777), 0644);
        // Root's own file keeps its group.
        write(at("ours.jpg"), "ours");
        QCOMPARE(::chown(enc(at("ours.jpg")).constData(), 0, 100), 0);
        QCOMPARE(save(img, at("ours.jpg")), WriteResult::Written);
        QCOMPARE(::stat(enc(at("ours.jpg")).constData(), &st), 0);
        QCOMPARE(int(st.st_gid), 100);
        // As root, a file without any write bit is read-only too.
        ::chmod(enc(at("theirs.jpg")).constData(), 0444);
        QCOMPARE(save(img, at("theirs.jpg")), WriteResult::CannotOpen);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "test_hostile.moc"
