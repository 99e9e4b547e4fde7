#include "platform/libjpeg_encoder.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
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

// Where the bytes go: a temporary file beside the target that is renamed over
// it at the end, or, for a target that is not a regular file (a device, a
// pipe), the target itself.
class Destination
{
public:
    ~Destination() { abandon(); }

    Result open(const std::string &name)
    {
        target_ = resolveLinks(name);
        struct stat st {
        };
        const bool exists = ::stat(target_.c_str(), &st) == 0;
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
        const std::string::size_type slash = target_.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
        std::string pattern = dir + (dir.back() == '/' ? "" : "/") + "." + base + ".XXXXXX";
        fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd_ < 0)
            return CannotOpen;
        temp_ = pattern;
        // The new file gets the old one's permissions, or what a new file would get.
        ::fchmod(fd_, exists ? (st.st_mode & 07777) : (0666 & ~currentUmask()));
        return attach();
    }

    FILE *file() const { return file_; }

    Result commit()
    {
        const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        fd_ = -1;
        if (!flushed || !closed)
            return CannotWrite;
        if (!temp_.empty()) {
            if (::rename(temp_.c_str(), target_.c_str()) != 0)
                return CannotWrite;
            temp_.clear();
        }
        return Written;
    }

    // Leaves the target as it was: no temporary file stays behind.
    void abandon()
    {
        if (file_)
            std::fclose(file_);
        else if (fd_ >= 0)
            ::close(fd_);
        file_ = nullptr;
        fd_ = -1;
        if (!temp_.empty())
            ::unlink(temp_.c_str());
        temp_.clear();
    }

private:
    Result attach()
    {
        file_ = ::fdopen(fd_, "wb");
        return file_ ? Written : CannotOpen;
    }

    // A symbolic link stays a link: what it points at is written.
    static std::string resolveLinks(const std::string &name)
    {
        std::string path = name;
        for (int hops = 0; hops < 40; ++hops) {
            struct stat st {
            };
            if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
                break;
            std::string link(size_t(st.st_size > 0 ? st.st_size : 4096), '\0');
            const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
            if (n <= 0)
                break;
            link.resize(size_t(n));
            if (link.front() != '/') {
                const std::string::size_type slash = path.rfind('/');
                link =
                    (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
            }
            path = link;
        }
        return path;
    }

    static mode_t currentUmask()
    {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return mask;
    }

    std::string target_, temp_;
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

} // namespace

int16_t LibjpegEncoder::DCSavetoJPEG(const QImage *hdc, int32_t width, int32_t height,
                                     char *fileName, uint8_t quality, int32_t)
{
    if (!hdc || !fileName || width <= 0 || height <= 0 || width > MaxSide || height > MaxSide ||
        width > hdc->width() || height > hdc->height() || !isBgrx(hdc->format()))
        return FormatError;

    Destination out;
    if (const Result r = out.open(fileName); r != Written)
        return r;

    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = silent;
    // Everything the jump skips over is plain data; the destination cleans up after itself.
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        out.abandon();
        return err.result;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out.file());
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    // Little-endian 32-bit pixels 0xffRRGGBB lie in memory as B, G, R, X.
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality == 0 ? 1 : quality, TRUE);
    // Optimised Huffman tables: the same pixels, fewer bytes.
    cinfo.optimize_coding = TRUE;
    if (quality >= 90) {
        // Full-resolution colour at high quality.
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[16];
        JDIMENSION n = 0;
        for (; n < 16 && cinfo.next_scanline + n < cinfo.image_height; ++n)
            rows[n] = const_cast<JSAMPROW>(hdc->constScanLine(int(cinfo.next_scanline + n)));
        jpeg_write_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return out.commit();
}

} // namespace platform
