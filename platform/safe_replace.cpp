#include "platform/safe_replace.h"

#include <algorithm>
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

// Names of our temporary files: short, so that any target name fits beside them.
constexpr char TempPrefix[] = ".mipo-";
// What marks a temporary file as ours beyond its name, while it is one: a
// user's own file that happens to have such a name is never touched.
constexpr char TempMark[] = "user.mipoquibbo.temporary";

// Six letters from the kernel's randomness, as mkstemp takes them.
void randomLetters(char *at)
{
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
        // Never short for 6 bytes; where the call is missing, the device's
        // randomness: names nobody can foresee either way.
        std::random_device device;
        for (unsigned char &b : bytes)
            b = static_cast<unsigned char>(device());
    }
    for (unsigned char b : bytes)
        *at++ = Letters[b % (sizeof Letters - 1)];
}

// Each folder is looked through for stale temporaries once a run: a batch
// into one folder does not read it again for every file.
bool firstLookInto(const std::string &folder)
{
    static std::mutex lock;
    static std::vector<std::string> seen;
    const std::lock_guard<std::mutex> hold(lock);
    if (std::find(seen.begin(), seen.end(), folder) != seen.end())
        return false;
    seen.push_back(folder);
    return true;
}

std::string folderOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

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
    if (!resolveLinks(name, target_))
        return WriteResult::CannotOpen;
    struct stat st {
    };
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return WriteResult::CannotOpen;
    if (exists && S_ISDIR(st.st_mode))
        return WriteResult::CannotOpen;
    if (exists && !S_ISREG(st.st_mode)) {
        // No reader on a pipe must not hang the program: open without waiting.
        fd_ = ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0)
            return WriteResult::CannotOpen;
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        return attach();
    }
    // A file the user may not write stays as it is, as an editor leaves it.
    if (exists &&
        (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0 || (st.st_mode & 0222) == 0))
        return WriteResult::CannotOpen;
    folder_ = folderOf(target_);
    removeStaleTemporaries();
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        std::string pattern = folder_ + "/" + TempPrefix + "XXXXXX";
        fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd_ < 0)
            return WriteResult::CannotOpen;
        temp_ = pattern;
    }
    // Held while the file is ours: a later save tells live temporaries from stale ones.
    ::flock(fd_, LOCK_EX);
    ::fsetxattr(fd_, TempMark, "1", 1, 0);
    if (exists) {
        // Owner and group as they were, where we may give them; then the mode,
        // which a change of owner may have cleared bits of.
        if (::fchown(fd_, st.st_uid, st.st_gid) != 0 && ::fchown(fd_, uid_t(-1), st.st_gid)) {
        }
        ::fchmod(fd_, st.st_mode & 07777);
    } else {
        ::fchmod(fd_, 0666 & ~currentUmask());
    }
    return attach();
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

WriteResult FileReplacement::commit()
{
    // On disk before it takes the name, and the name on disk after: a
    // power loss leaves the old file or the new one, never an empty one.
    const bool replacing = !folder_.empty();
    if (replacing) {
        ::fremovexattr(fd_, TempMark);
        if (::fsync(fd_) != 0) {
            abandon();
            return WriteResult::CannotWrite;
        }
    }
    const bool named = !replacing || !temp_.empty() || linkUnnamed();
    const bool closed = ::close(std::exchange(fd_, -1)) == 0;
    if (!named || !closed || (!temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0)) {
        abandon();
        return WriteResult::CannotWrite;
    }
    temp_.clear();
    if (replacing) {
        const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }
    return WriteResult::Written;
}

void FileReplacement::abandon()
{
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    temp_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

WriteResult FileReplacement::attach()
{
    return fd_ >= 0 ? WriteResult::Written : WriteResult::CannotOpen;
}

bool FileReplacement::linkUnnamed()
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder_ + "/" + TempPrefix + "XXXXXX";
        // mkstemp's names, without its file.
        randomLetters(name.data() + name.size() - 6);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
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
    DIR *dir = ::opendir(folder_.c_str());
    if (!dir)
        return;
    const time_t now = ::time(nullptr);
    // A stream of this call's own: readdir is safe for it on any thread.
    while (const dirent *entry = ::readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
        if (std::strncmp(entry->d_name, TempPrefix, sizeof TempPrefix - 1) != 0 ||
            std::strlen(entry->d_name) != sizeof TempPrefix - 1 + 6)
            continue;
        const int fd = ::openat(::dirfd(dir), entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat st {
        };
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            now - st.st_mtime > 10 && ::fgetxattr(fd, TempMark, nullptr, 0) >= 0 &&
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
