#include "platform/libjpeg_encoder.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>
// after jpeglib.h, which it needs
#include <jerror.h>

namespace platform
{

namespace
{

enum Result : int16_t {
    Written = 0,
    CannotOpen = 1,
    CannotWrite = 2,
    FormatError = 3,
    OutOfMemory = 4
};

// Names of our temporary files: short, so that any target name fits beside them.
constexpr char TempPrefix[] = ".mipo-";

std::string folderOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes to a reader that has gone must fail with an error, not end the
// program: SIGPIPE is held back for this thread while the guard lives, and
// one that arrived meanwhile is taken off its queue.
class BrokenPipeGuard
{
public:
    BrokenPipeGuard()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~BrokenPipeGuard()
    {
        const timespec now{0, 0};
        while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    BrokenPipeGuard(const BrokenPipeGuard &) = delete;
    BrokenPipeGuard &operator=(const BrokenPipeGuard &) = delete;

private:
    sigset_t pipe_{}, old_{};
};

// Where the bytes go: an unnamed temporary file in the target's folder (or,
// where the file system has none, a short-named one) that takes the target's
// name only when complete; for a target that is not a regular file (a device,
// a pipe), the target itself.
class Destination
{
public:
    ~Destination() { abandon(); }

    Result open(const std::string &name)
    {
        if (const Result r = resolveLinks(name, target_); r != Written)
            return r;
        struct stat st {
        };
        const bool exists = ::stat(target_.c_str(), &st) == 0;
        if (!exists && errno != ENOENT)
            return CannotOpen;
        if (exists && S_ISDIR(st.st_mode))
            return CannotOpen;
        if (exists && !S_ISREG(st.st_mode)) {
            // No reader on a pipe must not hang the program: open without waiting.
            fd_ = ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd_ < 0)
                return CannotOpen;
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
            return attach();
        }
        // A file the user may not write stays as it is, as an editor leaves it.
        if (exists && (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0 ||
                       (st.st_mode & 0222) == 0))
            return CannotOpen;
        folder_ = folderOf(target_);
        removeStaleTemporaries();
        fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            std::string pattern = folder_ + "/" + TempPrefix + "XXXXXX";
            fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (fd_ < 0)
                return CannotOpen;
            temp_ = pattern;
        }
        // Held while the file is ours: a later save tells live temporaries from stale ones.
        ::flock(fd_, LOCK_EX);
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

    FILE *file() const { return file_; }

    Result commit()
    {
        const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
        const bool named = flushed && (folder_.empty() || !temp_.empty() || linkUnnamed());
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        fd_ = -1;
        if (!flushed || !named || !closed ||
            (!temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0)) {
            abandon();
            return CannotWrite;
        }
        temp_.clear();
        return Written;
    }

    // Leaves the target as it was: no temporary file stays behind.
    void abandon()
    {
        if (!temp_.empty())
            ::unlink(temp_.c_str());
        temp_.clear();
        if (file_)
            std::fclose(file_);
        else if (fd_ >= 0)
            ::close(fd_);
        file_ = nullptr;
        fd_ = -1;
    }

private:
    Result attach()
    {
        file_ = ::fdopen(fd_, "wb");
        return file_ ? Written : CannotOpen;
    }

    // Gives the unnamed file a short name beside the target, for the rename.
    bool linkUnnamed()
    {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = folder_ + "/" + TempPrefix + "XXXXXX";
            // mkstemp's names, without its file: six random letters.
            static constexpr char Letters[] =
                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
            for (char *p = name.data() + name.size() - 6; *p; ++p)
                *p = Letters[std::rand() % (sizeof Letters - 1)];
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                temp_ = name;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    // Temporaries that an ended save of ours left in the folder: unlocked, ours,
    // and not written to for a while.
    void removeStaleTemporaries() const
    {
        DIR *dir = ::opendir(folder_.c_str());
        if (!dir)
            return;
        const time_t now = ::time(nullptr);
        while (const dirent *entry = ::readdir(dir)) {
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
                now - st.st_mtime > 10 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
                ::unlinkat(::dirfd(dir), entry->d_name, 0);
            ::close(fd);
        }
        ::closedir(dir);
    }

    // A symbolic link stays a link: what it points at is written. A link that
    // another user planted in a shared sticky folder (such as /tmp) is not
    // followed, as the kernel would not follow it either, nor a chain of more
    // links than the kernel follows.
    static Result resolveLinks(const std::string &name, std::string &resolved)
    {
        constexpr int MaxLinks = 40;
        std::string path = name;
        for (int hops = 0;; ++hops) {
            struct stat st {
            };
            if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
                resolved = path;
                return Written;
            }
            if (hops == MaxLinks)
                return CannotOpen;
            const std::string folder = folderOf(path);
            struct stat fs {
            };
            if (::stat(folder.c_str(), &fs) == 0 && (fs.st_mode & S_ISVTX) &&
                (fs.st_mode & S_IWOTH) && st.st_uid != ::geteuid() && st.st_uid != fs.st_uid)
                return CannotOpen;
            std::string link(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
            const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
            if (n <= 0 || size_t(n) >= link.size())
                return CannotOpen;
            link.resize(size_t(n));
            if (link.front() != '/')
                link = (path.find('/') == std::string::npos ? std::string() : folder + "/") + link;
            path = link;
        }
    }

    static mode_t currentUmask()
    {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return mask;
    }

    std::string target_, folder_, temp_;
    int fd_ = -1;
    FILE *file_ = nullptr;
};

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    Result result;
};

void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    switch (cinfo->err->msg_code) {
    case JERR_FILE_WRITE:
        err->result = CannotWrite;
        break;
    case JERR_OUT_OF_MEMORY:
        err->result = OutOfMemory;
        break;
    default:
        err->result = FormatError;
        break;
    }
    std::longjmp(err->jump, 1);
}

void silent(j_common_ptr, int) {}

bool isBgrx(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
           f == QImage::Format_ARGB32_Premultiplied;
}

// Plain memory that libjpeg allocated for its output.
struct Encoded {
    unsigned char *bytes = nullptr;
    unsigned long size = 0;
    Encoded() = default;
    Encoded(const Encoded &) = delete;
    Encoded &operator=(const Encoded &) = delete;
    Encoded(Encoded &&o) noexcept : bytes(std::exchange(o.bytes, nullptr)), size(o.size) {}
    Encoded &operator=(Encoded &&o) noexcept
    {
        std::swap(bytes, o.bytes);
        std::swap(size, o.size);
        return *this;
    }
    ~Encoded() { std::free(bytes); }
};

// One encoding of the picture into memory: baseline with optimised tables, or
// progressive scans. The floating-point DCT keeps a little more of the
// picture in fewer bytes than the integer one at every quality measured.
Result encode(const QImage &picture, int32_t quality, bool progressive, Encoded &out)
{
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = silent;
    // Everything the jump skips over is plain data; the output is freed by its owner.
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return err.result;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out.bytes, &out.size);
    cinfo.image_width = JDIMENSION(picture.width());
    cinfo.image_height = JDIMENSION(picture.height());
    cinfo.input_components = 4;
    // Little-endian 32-bit pixels 0xffRRGGBB lie in memory as B, G, R, X.
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    // Optimised Huffman tables: the same pixels, fewer bytes.
    cinfo.optimize_coding = TRUE;
    if (quality >= 90) {
        // Full-resolution colour at high quality.
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[16];
        JDIMENSION n = 0;
        for (; n < 16 && cinfo.next_scanline + n < cinfo.image_height; ++n)
            rows[n] = const_cast<JSAMPROW>(picture.constScanLine(int(cinfo.next_scanline + n)));
        jpeg_write_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return Written;
}

bool writable(const QImage &picture)
{
    const int width = picture.width(), height = picture.height();
    return width > 0 && height > 0 && width <= LibjpegWriter::MaxSide &&
           height <= LibjpegWriter::MaxSide && isBgrx(picture.format());
}

// The smaller of the two encodings: progressive scans win on detailed
// pictures at high quality, baseline mostly below that.
Result smallest(const QImage &picture, int32_t quality, Encoded &best)
{
    Encoded baseline, progressive;
    if (const Result r = encode(picture, quality, false, baseline); r != Written)
        return r;
    if (const Result r = encode(picture, quality, true, progressive); r != Written)
        return r;
    best = progressive.size < baseline.size ? std::move(progressive) : std::move(baseline);
    return Written;
}

} // namespace

int16_t LibjpegWriter::write(const QImage &picture, const QString &path, int32_t quality)
{
    if (!writable(picture) || path.isEmpty())
        return FormatError;
    // The file's name in the system's own encoding.
    const QByteArray fileName = QFile::encodeName(path);

    BrokenPipeGuard pipeGuard;
    Destination out;
    if (const Result r = out.open(fileName.toStdString()); r != Written)
        return r;
    Encoded jpeg;
    if (const Result r = smallest(picture, quality, jpeg); r != Written) {
        out.abandon();
        return r;
    }
    if (std::fwrite(jpeg.bytes, 1, jpeg.size, out.file()) != jpeg.size) {
        out.abandon();
        return CannotWrite;
    }
    return out.commit();
}

qint64 LibjpegWriter::encodedSize(const QImage &picture, int32_t quality)
{
    Encoded jpeg;
    if (!writable(picture) || smallest(picture, quality, jpeg) != Written)
        return -1;
    return qint64(jpeg.size);
}

} // namespace platform
