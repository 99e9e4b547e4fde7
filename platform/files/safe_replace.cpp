#include "platform/files/safe_replace.h"

#include "platform/files/file_names.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform
{

namespace
{

// The names of an older version's temporary files, which were told from a
// user's own by an extended attribute while they were ours.
constexpr char OldTempPrefix[] = ".mipo-";
constexpr char OldTempMark[] = "user.mipoquibbo.temporary";
constexpr int RandomLetters = 8;

// Letters from the kernel's randomness, as mkstemp takes them.
void randomLetters(char *at, int count)
{
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[RandomLetters] = {};
    if (::getrandom(bytes, size_t(count), 0) != ssize_t(count)) {
        // Never short for a few bytes; where the call is missing, the
        // device's randomness: names nobody can foresee either way.
        std::random_device device;
        for (unsigned char &b : bytes)
            b = static_cast<unsigned char>(device());
    }
    for (int i = 0; i < count; ++i)
        *at++ = Letters[bytes[i] % (sizeof Letters - 1)];
}

std::string temporaryName()
{
    std::string name = std::string(FileReplacement::TempPrefix) + std::string(RandomLetters, 'X') +
                       FileReplacement::TempSuffix;
    randomLetters(name.data() + sizeof FileReplacement::TempPrefix - 1, RandomLetters);
    return name;
}

// Each folder is looked through for stale temporaries once a run: a batch
// into one folder does not read it again for every file.
bool firstLookInto(int folder)
{
    struct stat st {
    };
    if (::fstat(folder, &st) != 0)
        return false;
    static std::mutex lock;
    static std::vector<std::pair<dev_t, ino_t>> seen;
    const std::lock_guard<std::mutex> hold(lock);
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    if (std::find(seen.begin(), seen.end(), id) != seen.end())
        return false;
    seen.push_back(id);
    return true;
}

std::string folderOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder opened from the root down, a name at a time, none of them a
// link: a folder renamed and replaced by a link after its path was read is
// refused, never written through. Readable where it may be read (to flush
// it and look for stale temporaries), else only for finding names in.
int openFolder(const std::string &canonical)
{
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::string::size_type from = 1;
    while (fd >= 0 && from < canonical.size()) {
        std::string::size_type slash = canonical.find('/', from);
        if (slash == std::string::npos)
            slash = canonical.size();
        const std::string part = canonical.substr(from, slash - from);
        const int next = ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
        from = slash + 1;
    }
    if (fd < 0)
        return -1;
    const int readable = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable < 0)
        return fd;
    ::close(fd);
    return readable;
}

} // namespace

bool FileReplacement::isTemporaryName(const char *name)
{
    const size_t prefix = sizeof TempPrefix - 1, suffix = sizeof TempSuffix - 1;
    if (std::strlen(name) != prefix + RandomLetters + suffix ||
        std::strncmp(name, TempPrefix, prefix) != 0 ||
        std::strcmp(name + prefix + RandomLetters, TempSuffix) != 0)
        return false;
    return std::all_of(name + prefix, name + prefix + RandomLetters,
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

FileReplacement::FileReplacement()
{
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &oldMask_);
}

FileReplacement::~FileReplacement()
{
    abandon();
    const timespec now{0, 0};
    while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
}

WriteResult FileReplacement::open(const std::string &name)
{
    std::string resolved;
    if (!resolveLinks(name, resolved))
        return WriteResult::CannotOpen;
    const std::string::size_type slash = resolved.rfind('/');
    name_ = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
    char *canonical = ::realpath(folderOf(resolved).c_str(), nullptr);
    if (!canonical || name_.empty() || name_ == "." || name_ == "..") {
        std::free(canonical); // NOLINT(cppcoreguidelines-no-malloc)
        return WriteResult::CannotOpen;
    }
    const std::string folder = canonical;
    std::free(canonical); // NOLINT(cppcoreguidelines-no-malloc)
    target_ = (folder == "/" ? "" : folder) + "/" + name_;
    folder_ = openFolder(folder);
    if (folder_ < 0)
        return WriteResult::CannotOpen;
    struct stat st {
    };
    const bool exists = ::fstatat(folder_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return WriteResult::CannotOpen;
    // A link here now was put in place after the names were followed.
    if (exists && (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)))
        return WriteResult::CannotOpen;
    if (exists && !S_ISREG(st.st_mode)) {
        // No reader on a pipe must not hang the program: open without waiting.
        fd_ = ::openat(folder_, name_.c_str(),
                       O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ < 0)
            return WriteResult::CannotOpen;
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        ::close(std::exchange(folder_, -1));
        return WriteResult::Written;
    }
    // A file the user may not write stays as it is, as an editor leaves it.
    if (exists &&
        (::faccessat(folder_, name_.c_str(), W_OK, AT_EACCESS) != 0 || (st.st_mode & 0222) == 0))
        return WriteResult::CannotOpen;
    removeStaleTemporaries();
    // An unnamed file is named through /proc at the end: without it, a
    // named one from the start.
    fd_ = ::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::access(("/proc/self/fd/" + std::to_string(fd_)).c_str(), F_OK) != 0)
        ::close(std::exchange(fd_, -1));
    unnamed_ = fd_ >= 0;
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
        const std::string temp = temporaryName();
        fd_ = ::openat(folder_, temp.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            temp_ = temp;
        else if (errno != EEXIST)
            return WriteResult::CannotOpen;
    }
    if (fd_ < 0)
        return WriteResult::CannotOpen;
    // Held while the file is ours: a later save tells live temporaries from stale ones.
    ::flock(fd_, LOCK_EX);
    // From root, never a file handed to another user nor one others may write.
    const bool root = ::geteuid() == 0;
    const mode_t allowed = root ? 0755 : 0777;
    if (exists) {
        // The group as it was, where it may be given; then the mode, which
        // a change of group may have cleared bits of.
        if (!root || st.st_uid == 0) {
            if (::fchown(fd_, uid_t(-1), st.st_gid) != 0) {
            }
        }
        ::fchmod(fd_, st.st_mode & allowed);
    } else {
        ::fchmod(fd_, 0666 & ~currentUmask() & allowed);
    }
    return WriteResult::Written;
}

WriteResult FileReplacement::write(const unsigned char *bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return WriteResult::CannotWrite;
        bytes += n;
        size -= size_t(n);
    }
    return WriteResult::Written;
}

WriteResult FileReplacement::commit(const OldFile &old)
{
    if (fd_ < 0)
        return WriteResult::CannotWrite;
    if (folder_ < 0) // a device or a pipe, written as it is
        return ::close(std::exchange(fd_, -1)) == 0 ? WriteResult::Written
                                                    : WriteResult::CannotWrite;
    // On disk before it takes the name, and the name on disk after: a
    // power loss leaves the old file or the new one, never an empty one.
    if (::fsync(fd_) != 0 || (unnamed_ && !linkUnnamed())) {
        abandon();
        return WriteResult::CannotWrite;
    }
    // The file there now, whatever was there when the save began.
    const FileInFolder file{folder_, QByteArray::fromStdString(name_),
                            nameOf(QByteArray::fromStdString(target_))};
    bool kept = false;
    struct stat st {
    };
    if (old.keepIn && ::fstatat(folder_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode)) {
        kept = old.keepIn->keepCopy(file);
        if (!kept && !old.mayLose) {
            abandon();
            return WriteResult::NotKept;
        }
    }
    if (::renameat(folder_, temp_.c_str(), folder_, name_.c_str()) != 0) {
        if (kept)
            old.keepIn->takeBack(file);
        abandon();
        return WriteResult::CannotWrite;
    }
    temp_.clear();
    ::fsync(folder_);
    // Unlocked only now that it has its name: while it had a temporary one,
    // it was never taken for a stale one.
    ::close(std::exchange(fd_, -1));
    ::close(std::exchange(folder_, -1));
    return WriteResult::Written;
}

void FileReplacement::abandon()
{
    if (!temp_.empty() && folder_ >= 0)
        ::unlinkat(folder_, temp_.c_str(), 0);
    temp_.clear();
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
    if (folder_ >= 0)
        ::close(std::exchange(folder_, -1));
}

bool FileReplacement::linkUnnamed()
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryName();
        if (::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp_ = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

void FileReplacement::removeStaleTemporaries() const
{
    if (!firstLookInto(folder_))
        return;
    const int copy = ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return;
    }
    const time_t now = ::time(nullptr);
    // A stream of this call's own: readdir is safe for it on any thread.
    while (const dirent *entry = ::readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
        const bool ours = isTemporaryName(entry->d_name);
        const bool older =
            std::strncmp(entry->d_name, OldTempPrefix, sizeof OldTempPrefix - 1) == 0 &&
            std::strlen(entry->d_name) == sizeof OldTempPrefix - 1 + 6;
        if (!ours && !older)
            continue;
        const int fd = ::openat(::dirfd(dir), entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat st {
        };
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            now - st.st_mtime > 10 && (ours || ::fgetxattr(fd, OldTempMark, nullptr, 0) >= 0) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

bool FileReplacement::resolveLinks(const std::string &name, std::string &resolved)
{
    constexpr int MaxLinks = 40;
    std::string path = name;
    for (int hops = 0;; ++hops) {
        struct stat st {
        };
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            resolved = path;
            return true;
        }
        if (hops == MaxLinks)
            return false;
        const std::string folder = folderOf(path);
        struct stat fs {
        };
        if (::stat(folder.c_str(), &fs) == 0 && (fs.st_mode & S_ISVTX) && (fs.st_mode & S_IWOTH) &&
            st.st_uid != ::geteuid() && st.st_uid != fs.st_uid)
            return false;
        std::string link(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) >= link.size())
            return false;
        link.resize(size_t(n));
        if (link.front() != '/')
            link.insert(0, path.find('/') == std::string::npos ? std::string() : folder + '/');
        path = link;
    }
}

mode_t FileReplacement::currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace platform
