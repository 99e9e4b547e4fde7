#include "platform/libjpeg_encoder.h"

#include "platform/jpeg_quantizer.h"

#include <QFile>

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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
    OutOfMemory = 4,
    // Not reported: a size run that a newer one replaced.
    Abandoned = 5
};

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
    if (::getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes))
        for (unsigned char &b : bytes) // never short for 6 bytes; a fallback all the same
            b = static_cast<unsigned char>(std::rand());
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

    // Straight to the descriptor: no buffer to allocate when memory is short.
    Result write(const unsigned char *bytes, size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd_, bytes, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return CannotWrite;
            bytes += n;
            size -= size_t(n);
        }
        return Written;
    }

    Result commit()
    {
        // On disk before it takes the name, and the name on disk after: a
        // power loss leaves the old file or the new one, never an empty one.
        const bool replacing = !folder_.empty();
        if (replacing) {
            ::fremovexattr(fd_, TempMark);
            if (::fsync(fd_) != 0) {
                abandon();
                return CannotWrite;
            }
        }
        const bool named = !replacing || !temp_.empty() || linkUnnamed();
        const bool closed = ::close(std::exchange(fd_, -1)) == 0;
        if (!named || !closed ||
            (!temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0)) {
            abandon();
            return CannotWrite;
        }
        temp_.clear();
        if (replacing) {
            const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder >= 0) {
                ::fsync(folder);
                ::close(folder);
            }
        }
        return Written;
    }

    // Leaves the target as it was: no temporary file stays behind.
    void abandon()
    {
        if (!temp_.empty())
            ::unlink(temp_.c_str());
        temp_.clear();
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    Result attach() { return fd_ >= 0 ? Written : CannotOpen; }

    // Gives the unnamed file a short name beside the target, for the rename.
    bool linkUnnamed()
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

    // Temporaries that an ended save of ours left in the folder: unlocked,
    // marked as ours, and not written to for a while.
    void removeStaleTemporaries() const
    {
        if (!firstLookInto(folder_))
            return;
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
                now - st.st_mtime > 10 && ::fgetxattr(fd, TempMark, nullptr, 0) >= 0 &&
                ::flock(fd, LOCK_EX | LOCK_NB) == 0)
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

// Asked between rows of blocks: a size nobody waits for any more ends at once.
struct Progress {
    jpeg_progress_mgr base;
    const std::atomic_bool *abandoned;
};

void checkAbandoned(j_common_ptr cinfo)
{
    const auto *progress = reinterpret_cast<Progress *>(cinfo->progress);
    if (progress->abandoned && progress->abandoned->load(std::memory_order_relaxed)) {
        auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
        err->result = Abandoned;
        std::longjmp(err->jump, 1);
    }
}

bool isBgrx(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
           f == QImage::Format_ARGB32_Premultiplied;
}

// Encoded bytes in memory this program owns from the first byte on, so that
// whatever fails, they are freed once, here.
struct Encoded {
    unsigned char *bytes = nullptr;
    size_t size = 0, capacity = 0;
    Encoded() = default;
    Encoded(const Encoded &) = delete;
    Encoded &operator=(const Encoded &) = delete;
    Encoded &operator=(Encoded &&o) noexcept
    {
        std::swap(bytes, o.bytes);
        std::swap(size, o.size);
        std::swap(capacity, o.capacity);
        return *this;
    }
    ~Encoded() { std::free(bytes); }
};

// libjpeg's output into an Encoded, doubled when full. A growth that fails is
// libjpeg's out-of-memory error; the bytes so far stay with their owner.
struct MemoryDestination {
    jpeg_destination_mgr base;
    Encoded *out;
};

void startOutput(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    Encoded &out = *dest->out;
    if (!out.bytes) {
        out.bytes = static_cast<unsigned char *>(std::malloc(64 * 1024));
        if (!out.bytes)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
        out.capacity = 64 * 1024;
    }
    dest->base.next_output_byte = out.bytes;
    dest->base.free_in_buffer = out.capacity;
}

boolean growOutput(j_compress_ptr cinfo)
{
    // Called when the whole buffer is full, whatever the coder's own copy of
    // the position says: the new room starts at the old end.
    auto *dest = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    Encoded &out = *dest->out;
    const size_t grown = out.capacity * 2;
    auto *bytes = static_cast<unsigned char *>(std::realloc(out.bytes, grown));
    if (!bytes)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    out.bytes = bytes;
    dest->base.next_output_byte = bytes + out.capacity;
    dest->base.free_in_buffer = grown - out.capacity;
    out.capacity = grown;
    return TRUE;
}

void endOutput(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    dest->out->size = dest->out->capacity - dest->base.free_in_buffer;
}

// Runs both, the second on a thread of its own where one can be had.
void inParallel(const std::function<void()> &first, const std::function<void()> &second)
{
    std::thread other;
    try {
        other = std::thread(second);
    } catch (const std::exception &) {
        // No thread (memory or process limits): the work is done here instead.
    }
    try {
        first();
    } catch (...) {
        // A thread still running must be joined before anything unwinds past it.
        if (other.joinable())
            other.join();
        throw;
    }
    if (other.joinable())
        other.join();
    else
        second();
}

// What the holder and the writers agree on: size, colour, tables, sampling.
void describe(jpeg_compress_struct &cinfo, const QImage &picture, int32_t quality, bool colourWhole)
{
    cinfo.image_width = JDIMENSION(picture.width());
    cinfo.image_height = JDIMENSION(picture.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    if (colourWhole) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
}

// JPEG's colour of a 32-bit pixel, luma centred on zero. Little-endian
// pixels 0xffRRGGBB lie in memory as B, G, R, X.
struct YCbCr {
    float y, cb, cr;
};

inline YCbCr toYCbCr(const uchar *px)
{
    const float b = px[0], g = px[1], r = px[2];
    return {0.299f * r + 0.587f * g + 0.114f * b - 128.0f,
            -0.168735892f * r - 0.331264108f * g + 0.5f * b,
            0.5f * r - 0.418687589f * g - 0.081312411f * b};
}

// How errors and bits are weighed in the choice of coefficients, tuned on
// photos and screenshots for the fewest bytes at equal PSNR and SSIM.
constexpr float ErrorExponent = 1.25f, LambdaScale = 0.04f, ColourWeight = 0.6f;

QuantizerSettings settingsFor(const jpeg_compress_struct &cinfo, int component, float typicalStep)
{
    const jpeg_component_info &info = cinfo.comp_info[component];
    QuantizerSettings s;
    const JQUANT_TBL *table = cinfo.quant_tbl_ptrs[info.quant_tbl_no];
    std::copy(table->quantval, table->quantval + 64, s.steps.begin());
    const JHUFF_TBL *ac = cinfo.ac_huff_tbl_ptrs[info.ac_tbl_no];
    s.acBits = BlockQuantizer::codeLengths(ac->bits, ac->huffval);
    s.typicalStep = typicalStep;
    s.componentWeight = component == 0 ? 1.0f : ColourWeight;
    s.errorExponent = ErrorExponent;
    s.lambdaScale = LambdaScale;
    return s;
}

// Whether this picture's colour is worth its full resolution at this quality.
// Halving it both ways drops the finer half of the colour frequencies; where
// the quantiser would keep them (coloured text, sharp edges between flat
// colours) they may be worth the three more colour blocks every 16x16 pixels
// cost, which is the whole price where they are not (smooth photos). Some of
// the blocks, spread evenly, tell that well enough; blocks without
// colour detail between neighbouring pixels are passed over, as nothing fine
// there would survive quantisation.
bool keepsColourWhole(const QImage &picture, const BlockQuantizer &colour)
{
    const int width = picture.width(), height = picture.height();
    const int columns = (width + 7) / 8, rows = (height + 7) / 8;
    // Every other block in small pictures, one in eight from about a quarter
    // of a megapixel up: four thousand blocks spread evenly tell the
    // picture's kind.
    const int every = std::clamp(int(int64_t(columns) * rows / 4096), 2, 8);
    // Below this much detail energy in a block no fine coefficient reaches
    // half of the finest step.
    const float finest = colour.finestFineStep(), quiet = 0.25f * finest * finest;
    std::atomic_int next{0};
    double worth[2] = {0, 0};
    int64_t looked[2] = {0, 0};
    const auto work = [&](double &sum, int64_t &blocks) {
        Block planes[2], coefficients;
        for (int row = next++; row < rows; row = next++)
            for (int column = row * 3 % every; column < columns; column += every) {
                ++blocks;
                float detail = 0;
                for (int i = 0; i < 8; ++i) {
                    const uchar *line = picture.constScanLine(std::min(row * 8 + i, height - 1));
                    for (int j = 0; j < 8; ++j) {
                        const YCbCr c = toYCbCr(line + 4 * std::min(column * 8 + j, width - 1));
                        planes[0][size_t(i * 8 + j)] = c.cb;
                        planes[1][size_t(i * 8 + j)] = c.cr;
                    }
                }
                for (const Block &p : planes)
                    for (size_t i = 0; i < 8; i += 2)
                        for (size_t j = 0; j < 8; j += 2) {
                            const size_t at = i * 8 + j;
                            const float m = (p[at] + p[at + 1] + p[at + 8] + p[at + 9]) / 4;
                            for (const size_t d : {0, 1, 8, 9})
                                detail += (p[at + d] - m) * (p[at + d] - m);
                        }
                if (detail < quiet)
                    continue;
                for (const Block &p : planes) {
                    forwardDct(p, coefficients);
                    sum += colour.fineDetailWorth(coefficients);
                }
            }
    };
    inParallel([&] { work(worth[0], looked[0]); }, [&] { work(worth[1], looked[1]); });
    // Each block looked at stands for three quarters of a block more in each
    // colour component. The detail must pay for more than half of them: on
    // the benchmark's pictures that keeps photos halved up to 90 and text in
    // colour whole from about 75.
    constexpr double Share = 0.6;
    const double moreBlocks = 1.5 * double(looked[0] + looked[1]);
    return worth[0] + worth[1] > Share * moreBlocks * colour.emptyBlockCost();
}

// The picture's quantised coefficients, in libjpeg's own block arrays held by
// a compress object that writes nothing; the two writers read them at once.
class Coefficients
{
public:
    Coefficients() = default;
    Coefficients(const Coefficients &) = delete;
    Coefficients &operator=(const Coefficients &) = delete;
    // Also after a creation that ran out of memory half-way.
    ~Coefficients() { jpeg_destroy_compress(&holder_); }

    Result make(const QImage &picture, int32_t quality, const std::atomic_bool *abandoned)
    {
        if (const Result r = allocate(picture, quality); r != Written)
            return r;
        // Rows of MCUs go to whichever of two workers is free.
        std::atomic_int next{0};
        std::atomic<int16_t> result{Written};
        const auto work = [&] {
            try {
                Scratch scratch(paddedWidth_, mcuHeight_);
                for (int row = next++; row < mcuRows_; row = next++) {
                    if (result.load() != Written)
                        return; // the other worker has failed
                    if (abandoned && abandoned->load(std::memory_order_relaxed)) {
                        int16_t expected = Written;
                        result.compare_exchange_strong(expected, int16_t(Abandoned));
                        return;
                    }
                    transformRow(picture, row, scratch);
                }
            } catch (const std::bad_alloc &) {
                result = int16_t(OutOfMemory);
            }
        };
        inParallel(work, work);
        if (result.load() == Written)
            chooseDc();
        return Result(result.load());
    }

    jvirt_barray_ptr *arrays() { return arrays_; }
    // Whether the colour components are at full resolution.
    bool colourWhole() const { return colourWhole_; }

private:
    // One MCU row of the picture as floating-point Y, Cb and Cr at full
    // resolution, edges repeated as far as the blocks reach.
    struct Scratch {
        std::vector<float> planes[3];
        Scratch(int width, int height)
        {
            for (auto &p : planes)
                p.resize(size_t(width) * size_t(height));
        }
    };

    struct Component {
        int widthInBlocks = 0, heightInBlocks = 0, arrayWidth = 0, h = 1, v = 1;
        std::optional<BlockQuantizer> quantizer;
        std::array<uint8_t, 12> dcBits{};
    };

    // The part that may fail inside libjpeg: the arrays and the tables.
    Result allocate(const QImage &picture, int32_t quality)
    {
        holder_.err = jpeg_std_error(&err_.base);
        err_.base.error_exit = onError;
        err_.base.emit_message = silent;
        if (setjmp(err_.jump))
            return err_.result;
        jpeg_create_compress(&holder_);
        // All blocks in memory, whatever JPEGMEM says: there is no backing store.
        holder_.mem->max_memory_to_use = 0;
        describe(holder_, picture, quality, false);
        const JQUANT_TBL *lumaTable = holder_.quant_tbl_ptrs[0];
        double logSum = 0;
        for (int i = 1; i < 64; ++i)
            logSum += std::log(double(std::max<UINT16>(lumaTable->quantval[i], 1)));
        const auto typicalStep = float(std::exp(logSum / 63));
        colourWhole_ =
            keepsColourWhole(picture, BlockQuantizer(settingsFor(holder_, 1, typicalStep)));
        if (colourWhole_)
            describe(holder_, picture, quality, true);
        const int width = picture.width(), height = picture.height();
        const int maxH = holder_.comp_info[0].h_samp_factor,
                  maxV = holder_.comp_info[0].v_samp_factor;
        mcuHeight_ = 8 * maxV;
        mcuRows_ = (height + mcuHeight_ - 1) / mcuHeight_;
        paddedWidth_ = (width + 8 * maxH - 1) / (8 * maxH) * (8 * maxH);

        for (int ci = 0; ci < 3; ++ci) {
            const jpeg_component_info &info = holder_.comp_info[ci];
            Component &c = components_[ci];
            c.h = info.h_samp_factor;
            c.v = info.v_samp_factor;
            c.widthInBlocks = (width * c.h + 8 * maxH - 1) / (8 * maxH);
            c.heightInBlocks = (height * c.v + 8 * maxV - 1) / (8 * maxV);
            c.arrayWidth = (c.widthInBlocks + c.h - 1) / c.h * c.h;
            const int arrayHeight = mcuRows_ * c.v;
            arrays_[ci] = holder_.mem->request_virt_barray(
                reinterpret_cast<j_common_ptr>(&holder_), JPOOL_IMAGE, FALSE,
                JDIMENSION(c.arrayWidth), JDIMENSION(arrayHeight), JDIMENSION(arrayHeight));
            c.quantizer.emplace(settingsFor(holder_, ci, typicalStep));
            const std::array<uint8_t, 256> dcLengths =
                BlockQuantizer::codeLengths(holder_.dc_huff_tbl_ptrs[info.dc_tbl_no]->bits,
                                            holder_.dc_huff_tbl_ptrs[info.dc_tbl_no]->huffval);
            std::copy(dcLengths.begin(), dcLengths.begin() + 12, c.dcBits.begin());
            dc_[ci].assign(size_t(c.arrayWidth) * size_t(arrayHeight), 0.0f);
        }
        holder_.mem->realize_virt_arrays(reinterpret_cast<j_common_ptr>(&holder_));
        // Every row at once, before the workers start: the arrays are filled
        // out of order, which row-by-row access would refuse.
        for (int ci = 0; ci < 3; ++ci) {
            const int rowCount = mcuRows_ * components_[ci].v;
            rows_[ci] = holder_.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&holder_),
                                                        arrays_[ci], 0, JDIMENSION(rowCount), TRUE);
            adviseLargePages(rows_[ci], rowCount, components_[ci].arrayWidth);
        }
        return Written;
    }

    void transformRow(const QImage &picture, int row, Scratch &scratch)
    {
        const int width = picture.width(), height = picture.height();
        float *luma = scratch.planes[0].data(), *cb = scratch.planes[1].data(),
              *cr = scratch.planes[2].data();
        for (int y = 0; y < mcuHeight_; ++y) {
            const int sourceRow = std::min(row * mcuHeight_ + y, height - 1);
            const uchar *p = picture.constScanLine(sourceRow);
            const size_t at = size_t(y) * size_t(paddedWidth_);
            for (int x = 0; x < paddedWidth_; ++x) {
                const YCbCr c = toYCbCr(p + 4 * std::min(x, width - 1));
                luma[at + size_t(x)] = c.y;
                cb[at + size_t(x)] = c.cb;
                cr[at + size_t(x)] = c.cr;
            }
        }
        Block samples, coefficients;
        QuantizedBlock values;
        for (int ci = 0; ci < 3; ++ci) {
            const Component &c = components_[ci];
            const float *plane = scratch.planes[ci].data();
            // How many full-resolution samples one sample of this component spans.
            const int sx = components_[0].h / c.h, sy = components_[0].v / c.v;
            for (int by = 0; by < c.v; ++by) {
                const int blockRow = row * c.v + by;
                JBLOCKROW blocks = rows_[ci][blockRow];
                for (int bx = 0; bx < c.arrayWidth; ++bx) {
                    JCOEF *out = blocks[bx];
                    if (bx >= c.widthInBlocks || blockRow >= c.heightInBlocks) {
                        // Outside the picture: the writers make these blocks themselves.
                        std::fill(out, out + DCTSIZE2, JCOEF(0));
                        continue;
                    }
                    gather(plane, bx, by, sx, sy, samples);
                    if (ci == 0) {
                        // Only pure white (255, 255, 255) and pure black come this near the limits.
                        uint64_t white = 0, black = 0;
                        for (size_t n = 0; n < 64; ++n) {
                            white |= uint64_t(samples[n] > 126.9f) << n;
                            black |= uint64_t(samples[n] < -127.9f) << n;
                        }
                        c.quantizer->letClippedOvershoot(samples, white, black);
                    }
                    forwardDct(samples, coefficients);
                    c.quantizer->quantize(coefficients, values);
                    dc_[ci][size_t(blockRow) * size_t(c.arrayWidth) + size_t(bx)] = coefficients[0];
                    std::copy(values.begin(), values.end(), out);
                }
            }
        }
    }

    // The DC values of each component as a sequence in the order they are
    // coded, MCU by MCU, each predicted from the one before.
    void chooseDc()
    {
        std::vector<float> sequence;
        std::vector<int16_t> values;
        for (int ci = 0; ci < 3; ++ci) {
            const Component &c = components_[ci];
            const int mcusPerRow = c.arrayWidth / c.h;
            const auto inOrder = [&](const auto &visit) {
                for (int mcuRow = 0; mcuRow < mcuRows_; ++mcuRow)
                    for (int mcu = 0; mcu < mcusPerRow; ++mcu)
                        for (int y = 0; y < c.v; ++y)
                            for (int x = 0; x < c.h; ++x) {
                                const int row = mcuRow * c.v + y, column = mcu * c.h + x;
                                if (row < c.heightInBlocks && column < c.widthInBlocks)
                                    visit(row, column);
                            }
            };
            sequence.clear();
            inOrder([&](int row, int column) {
                sequence.push_back(dc_[ci][size_t(row) * size_t(c.arrayWidth) + size_t(column)]);
            });
            c.quantizer->chooseDc(sequence, c.dcBits, values);
            size_t i = 0;
            inOrder([&](int row, int column) { rows_[ci][row][column][0] = values[i++]; });
        }
    }

    // The blocks are written once each, into memory not touched yet: large
    // pages save a page fault for every 4 KB, a fifth of the time a 24 MP
    // photo takes on a virtual machine. Only where the rows lie one after
    // the other, as libjpeg allocates them.
    static void adviseLargePages(JBLOCKARRAY rows, int rowCount, int blocksPerRow)
    {
        if (rowCount < 1)
            return;
        const auto rowBytes = uintptr_t(blocksPerRow) * sizeof(JBLOCK);
        for (int i = 1; i < rowCount; ++i)
            if (reinterpret_cast<uintptr_t>(rows[i]) !=
                reinterpret_cast<uintptr_t>(rows[i - 1]) + rowBytes)
                return;
        constexpr uintptr_t Large = 2 << 20;
        const uintptr_t first = reinterpret_cast<uintptr_t>(rows[0]),
                        end = first + rowBytes * uintptr_t(rowCount);
        const uintptr_t from = (first + Large - 1) & ~(Large - 1), to = end & ~(Large - 1);
        if (to > from)
            madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
    }

    // One block of a component from the full-resolution plane: each sample
    // the mean of the sx by sy it stands for.
    void gather(const float *plane, int bx, int by, int sx, int sy, Block &samples) const
    {
        const auto width = size_t(paddedWidth_);
        if (sx == 1 && sy == 1) {
            for (int i = 0; i < 8; ++i) {
                const float *from = plane + size_t(by * 8 + i) * width + size_t(bx * 8);
                std::copy(from, from + 8, samples.begin() + i * 8);
            }
        } else if (sx == 2 && sy == 2) {
            for (int i = 0; i < 8; ++i) {
                const float *from = plane + size_t(by * 8 + i) * 2 * width + size_t(bx * 16);
                for (size_t j = 0; j < 8; ++j) {
                    const float *a = from + 2 * j;
                    samples[size_t(i * 8) + j] = (((a[0] + a[1]) + a[width]) + a[width + 1]) / 4;
                }
            }
        } else {
            for (int i = 0; i < 8; ++i)
                for (int j = 0; j < 8; ++j) {
                    const int y0 = (by * 8 + i) * sy, x0 = (bx * 8 + j) * sx;
                    float sum = 0;
                    for (int dy = 0; dy < sy; ++dy)
                        for (int dx = 0; dx < sx; ++dx)
                            sum += plane[size_t(y0 + dy) * width + size_t(x0 + dx)];
                    samples[size_t(i * 8 + j)] = sum / float(sx * sy);
                }
        }
    }

    jpeg_compress_struct holder_{};
    ErrorManager err_{};
    std::vector<float> dc_[3];
    jvirt_barray_ptr arrays_[3]{};
    JBLOCKARRAY rows_[3]{};
    Component components_[3];
    int mcuHeight_ = 8, mcuRows_ = 0, paddedWidth_ = 0;
    bool colourWhole_ = false;
};

// Progressive scans in spectral bands, without successive approximation:
// the DC of all three, then luma and colour from the lowest frequencies up.
const jpeg_scan_info ProgressiveScript[] = {
    {3, {0, 1, 2, 0}, 0, 0, 0, 0}, {1, {0}, 1, 2, 0, 0},   {1, {0}, 3, 9, 0, 0},
    {1, {1}, 1, 2, 0, 0},          {1, {2}, 1, 2, 0, 0},   {1, {1}, 3, 63, 0, 0},
    {1, {2}, 3, 63, 0, 0},         {1, {0}, 10, 24, 0, 0}, {1, {0}, 25, 63, 0, 0},
};

// One file from the coefficients: baseline with optimised tables, or
// progressive scans.
Result writeScans(Coefficients &coefficients, const QImage &picture, int32_t quality,
                  bool progressive, const std::atomic_bool *abandoned, Encoded &out)
{
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    MemoryDestination dest{};
    Progress progress{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = silent;
    // Everything the jump skips over is plain data; the output is freed by its owner.
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return err.result;
    }
    jpeg_create_compress(&cinfo);
    dest.base.init_destination = startOutput;
    dest.base.empty_output_buffer = growOutput;
    dest.base.term_destination = endOutput;
    dest.out = &out;
    cinfo.dest = &dest.base;
    progress.base.progress_monitor = checkAbandoned;
    progress.abandoned = abandoned;
    cinfo.progress = &progress.base;
    describe(cinfo, picture, quality, coefficients.colourWhole());
    // Optimised Huffman tables: the same coefficients, fewer bytes.
    cinfo.optimize_coding = TRUE;
    if (progressive) {
        cinfo.scan_info = ProgressiveScript;
        cinfo.num_scans = int(std::size(ProgressiveScript));
    }
    jpeg_write_coefficients(&cinfo, coefficients.arrays());
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

// One encoding at a time in the whole program: a save waits for a size
// read-out (and then may write its file) instead of both holding a large
// picture's coefficients at once.
std::mutex oneEncodingAtATime;

// The smaller of the two files: progressive scans win on most pictures,
// baseline on some small or flat ones.
Result smallest(const QImage &picture, int32_t quality, const std::atomic_bool *abandoned,
                Encoded &best)
{
    Coefficients coefficients;
    if (const Result r = coefficients.make(picture, quality, abandoned); r != Written)
        return r;
    Encoded baseline, progressive;
    Result fromBaseline = Written, fromProgressive = Written;
    inParallel(
        [&] {
            fromBaseline = writeScans(coefficients, picture, quality, false, abandoned, baseline);
        },
        [&] {
            fromProgressive =
                writeScans(coefficients, picture, quality, true, abandoned, progressive);
        });
    if (fromBaseline != Written)
        return fromBaseline;
    if (fromProgressive != Written)
        return fromProgressive;
    best = progressive.size < baseline.size ? std::move(progressive) : std::move(baseline);
    return Written;
}

} // namespace

// Guarded by oneEncodingAtATime.
struct LibjpegWriter::Remembered {
    qint64 picture = 0; // QImage::cacheKey: a new one for every change of the pixels
    int32_t quality = 0;
    Encoded jpeg;
};

LibjpegWriter::LibjpegWriter() : remembered_(std::make_unique<Remembered>()) {}

LibjpegWriter::~LibjpegWriter() = default;

int16_t LibjpegWriter::write(const QImage &picture, const QString &path, int32_t quality)
{
    return writeFile(picture, path, quality, true);
}

int16_t LibjpegWriter::writeBeside(const QImage &picture, const QString &path, int32_t quality)
{
    return writeFile(picture, path, quality, false);
}

int16_t LibjpegWriter::writeFile(const QImage &picture, const QString &path, int32_t quality,
                                 bool takeTurn)
{
    if (!writable(picture) || path.isEmpty())
        return FormatError;
    try {
        // The file's name in the system's own encoding.
        const QByteArray fileName = QFile::encodeName(path);

        BrokenPipeGuard pipeGuard;
        Destination out;
        if (const Result r = out.open(fileName.toStdString()); r != Written)
            return r;
        Encoded jpeg;
        if (!takeTurn) {
            if (const Result r = smallest(picture, quality, nullptr, jpeg); r != Written)
                return r;
        } else {
            const std::lock_guard lock(oneEncodingAtATime);
            if (remembered_->jpeg.bytes && remembered_->picture == picture.cacheKey() &&
                remembered_->quality == quality)
                jpeg = std::move(remembered_->jpeg);
            else if (const Result r = smallest(picture, quality, nullptr, jpeg); r != Written)
                return r;
        }
        if (const Result r = out.write(jpeg.bytes, jpeg.size); r != Written)
            return r;
        return out.commit();
    } catch (const std::bad_alloc &) {
        // The destination, if opened, is abandoned on the way out: the old file stays.
        return OutOfMemory;
    }
}

qint64 LibjpegWriter::encodedSize(const QImage &picture, int32_t quality,
                                  const std::atomic_bool *abandoned)
{
    if (!writable(picture))
        return -1;
    try {
        Encoded jpeg;
        const std::lock_guard lock(oneEncodingAtATime);
        if (smallest(picture, quality, abandoned, jpeg) != Written)
            return -1;
        const qint64 size = qint64(jpeg.size);
        remembered_->picture = picture.cacheKey();
        remembered_->quality = quality;
        remembered_->jpeg = std::move(jpeg);
        return size;
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

} // namespace platform
