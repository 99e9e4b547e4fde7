#include "platform/files/desktop_trash.h"

#include "platform/files/file_names.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

namespace
{
// A descriptor closed with its holder.
class Fd
{
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// A folder of ours in the one given that is no link: made when missing.
Fd ownFolder(int in, const char *name)
{
    ::mkdirat(in, name, 0700);
    Fd fd(::openat(in, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {
    };
    if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() ||
        ::faccessat(in, name, W_OK | X_OK, AT_EACCESS) != 0)
        return Fd();
    return fd;
}

// A trash folder with files/ and info/ in it that we may write.
Fd usableTrash(int in, const char *name)
{
    Fd trash = ownFolder(in, name);
    if (!trash || !ownFolder(trash.get(), "files") || !ownFolder(trash.get(), "info"))
        return Fd();
    return trash;
}

Fd openTrashPath(const QString &path)
{
    const QByteArray bytes = nameBytes(path);
    const qsizetype slash = bytes.lastIndexOf('/');
    if (slash < 0)
        return Fd();
    Fd parent(::open(slash == 0 ? "/" : bytes.left(slash).constData(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return parent ? usableTrash(parent.get(), bytes.mid(slash + 1).constData()) : Fd();
}

// A home the user may keep a trash in: a folder of theirs where it can be made.
bool usableHome(const QString &home)
{
    struct stat st {
    };
    return QDir::isAbsolutePath(home) && ::stat(nameBytes(home).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           QDir().mkpath(home + QStringLiteral("/.local/share"));
}

QString passwordHome()
{
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(size > 0 ? size : 16384, '\0');
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), size_t(buffer.size()), &found) != 0 ||
        !found || !found->pw_dir)
        return {};
    return nameOf(found->pw_dir);
}

// The top folder of the file system the folder lies on, found through its
// parents; levels: how many folders up it is.
Fd topOf(int folder, dev_t device, int &levels)
{
    Fd at(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    levels = 0;
    while (at) {
        Fd up(::openat(at.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat here {
        }, there{};
        if (!up || ::fstat(at.get(), &here) != 0 || ::fstat(up.get(), &there) != 0 ||
            there.st_dev != device || (there.st_ino == here.st_ino && there.st_dev == here.st_dev))
            return at;
        at = std::move(up);
        ++levels;
    }
    return at;
}

// The path without its last count names ("/" at the least).
QByteArray dropNames(const QByteArray &path, int count)
{
    QByteArray p = path;
    for (int i = 0; i < count; ++i) {
        const qsizetype slash = p.lastIndexOf('/');
        p = slash <= 0 ? QByteArray("/") : p.left(slash);
    }
    return p;
}

// The trash for a file on that device, opened: the home trash on the
// home's file system; else $top/.Trash/$uid (a shared sticky folder, no
// link), else $top/.Trash-$uid. recorded: the file's path as its entry says
// it (relative to the top there); where: the trash folder's path.
Fd trashFor(const FileInFolder &file, dev_t device, QByteArray &recorded, QByteArray &where)
{
    const QByteArray path = nameBytes(file.path);
    recorded = path;
    const QString home = FreedesktopTrash::homeTrash();
    struct stat hs {
    };
    if (!home.isEmpty() &&
        ::stat(nameBytes(QFileInfo(home).absolutePath()).constData(), &hs) == 0 &&
        hs.st_dev == device) {
        where = nameBytes(home);
        return openTrashPath(home);
    }
    int levels = 0;
    Fd top = topOf(file.folder, device, levels);
    struct stat ts {
    }, rs{};
    // Without a home, the system's own top is no place for a trash.
    if (!top || (home.isEmpty() && ::fstat(top.get(), &ts) == 0 && ::stat("/", &rs) == 0 &&
                 ts.st_dev == rs.st_dev && ts.st_ino == rs.st_ino))
        return Fd();
    const QByteArray topPath = dropNames(path, levels + 1);
    recorded = path.mid(topPath == "/" ? 1 : topPath.size() + 1);
    const QByteArray uid = QByteArray::number(::geteuid());
    struct stat ss {
    };
    if (::fstatat(top.get(), ".Trash", &ss, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(ss.st_mode) &&
        (ss.st_mode & S_ISVTX)) {
        Fd shared(::openat(top.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (shared)
            if (Fd trash = usableTrash(shared.get(), uid.constData())) {
                where = topPath + "/.Trash/" + uid;
                return trash;
            }
    }
    const QByteArray own = ".Trash-" + uid;
    Fd trash = usableTrash(top.get(), own.constData());
    if (trash)
        where = (topPath == "/" ? QByteArray() : topPath) + '/' + own;
    return trash;
}

// The file's content into a new file of the trash's, where no link can be made.
bool copyInto(const FileInFolder &file, int files, const char *kept)
{
    Fd from(::openat(file.folder, file.name.constData(),
                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {
    };
    if (!from || ::fstat(from.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    Fd to(::openat(files, kept, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to)
        return false;
    for (off_t left = st.st_size; left > 0;) {
        const ssize_t n = ::sendfile(to.get(), from.get(), nullptr, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::unlinkat(files, kept, 0);
            return false;
        }
        left -= n;
    }
    return ::fsync(to.get()) == 0 || (::unlinkat(files, kept, 0), false);
}
} // namespace

QString FreedesktopTrash::homeTrash()
{
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(data) && QDir().mkpath(data))
        return data + QStringLiteral("/Trash");
    for (const QString &home : {nameOf(qgetenv("HOME")), passwordHome()})
        if (usableHome(home))
            return home + QStringLiteral("/.local/share/Trash");
    return {};
}

bool FreedesktopTrash::keepCopy(const FileInFolder &given)
{
    // A path given whole is taken apart: its folder, once, and its name.
    FileInFolder file = given;
    Fd folder;
    if (file.name.contains('/')) {
        const qsizetype slash = file.name.lastIndexOf('/');
        folder = Fd(::openat(file.folder, slash == 0 ? "/" : file.name.left(slash).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder)
            return false;
        file.folder = folder.get();
        file.name = file.name.mid(slash + 1);
    }
    struct stat st {
    };
    if (::fstatat(file.folder, file.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return false;
    const std::lock_guard hold(lock_);
    QByteArray recorded, where;
    const Fd trash = trashFor(file, st.st_dev, recorded, where);
    if (!trash)
        return false;
    const Fd files(::openat(trash.get(), "files", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const Fd info(::openat(trash.get(), "info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!files || !info)
        return false;
    // The entry's info is made first and exclusively: its name is ours then.
    const QByteArray text =
        "[Trash Info]\nPath=" + recorded.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
        "\n";
    for (int n = 1; n < 10000; ++n) {
        const QByteArray name = n == 1 ? file.name : file.name + ' ' + QByteArray::number(n);
        const QByteArray infoName = name + ".trashinfo";
        const int fd = ::openat(info.get(), infoName.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
        ::close(fd);
        // An entry whose info went missing still holds its name in files/:
        // the next name, as for any taken one.
        struct stat ks {
        };
        if (written && ::fstatat(files.get(), name.constData(), &ks, AT_SYMLINK_NOFOLLOW) == 0) {
            ::unlinkat(info.get(), infoName.constData(), 0);
            continue;
        }
        // The same file system: the old content keeps its place on disk, and
        // the save's rename gives the name to the new one. Else a copy.
        const bool stored = written && (::linkat(file.folder, file.name.constData(), files.get(),
                                                 name.constData(), 0) == 0 ||
                                        copyInto(file, files.get(), name.constData()));
        if (!stored) {
            ::unlinkat(info.get(), infoName.constData(), 0);
            return false;
        }
        struct stat ws {
        };
        ::fstat(trash.get(), &ws);
        last_.insert(given.path, {where, name, ws.st_dev, ws.st_ino});
        return true;
    }
    return false;
}

void FreedesktopTrash::takeBack(const FileInFolder &file)
{
    const std::lock_guard hold(lock_);
    const auto entry = last_.constFind(file.path);
    if (entry == last_.constEnd())
        return;
    const Fd trash(
        ::open(entry->trash.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {
    };
    if (trash && ::fstat(trash.get(), &st) == 0 && st.st_dev == entry->device &&
        st.st_ino == entry->inode) {
        const Fd files(
            ::openat(trash.get(), "files", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const Fd info(
            ::openat(trash.get(), "info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (files && info) {
            ::unlinkat(files.get(), entry->name.constData(), 0);
            ::unlinkat(info.get(), (entry->name + ".trashinfo").constData(), 0);
        }
    }
    last_.erase(entry);
}

} // namespace platform
