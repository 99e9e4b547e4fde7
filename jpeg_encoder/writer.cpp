#include "jpeg_encoder/writer.h"

#include "jpeg_encoder/coefficients.h"
#include "jpeg_encoder/parallel.h"
#include "jpeg_encoder/scans.h"
#include "platform/file_names.h"
#include "platform/safe_replace.h"

#include <mutex>
#include <new>
#include <utility>

namespace jpeg_encoder
{

namespace
{

bool isBgrx(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
           f == QImage::Format_ARGB32_Premultiplied;
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

// Progressive scans in spectral bands make the smaller file but for small or
// nearly empty pictures, where their tables and scan headers outweigh what
// they save; only there is a baseline file written too, and the smaller kept.
// Beyond this many non-zero AC values (a file of about 30 KB) progressive
// has always won on the benchmark's pictures.
WriteResult smallest(const QImage &picture, int32_t quality, const std::atomic_bool *abandoned,
                     Encoded &best)
{
    Coefficients coefficients;
    if (const WriteResult r = coefficients.make(picture, quality, abandoned);
        r != WriteResult::Written)
        return r;
    const Markers markers = markersOf(picture);
    constexpr int64_t BaselineMayWin = 50000;
    if (coefficients.nonZero() > BaselineMayWin)
        return writeScans(coefficients, picture, quality, markers, true, abandoned, best);
    Encoded baseline, progressive;
    WriteResult fromBaseline = WriteResult::Written, fromProgressive = WriteResult::Written;
    inParallel(
        [&] {
            fromBaseline =
                writeScans(coefficients, picture, quality, markers, false, abandoned, baseline);
        },
        [&] {
            fromProgressive =
                writeScans(coefficients, picture, quality, markers, true, abandoned, progressive);
        });
    if (fromBaseline != WriteResult::Written)
        return fromBaseline;
    if (fromProgressive != WriteResult::Written)
        return fromProgressive;
    best = progressive.size < baseline.size ? std::move(progressive) : std::move(baseline);
    return WriteResult::Written;
}

} // namespace

// Guarded by oneEncodingAtATime.
struct LibjpegWriter::Remembered {
    qint64 picture = 0; // QImage::cacheKey: a new one for every change of the pixels
    int32_t quality = 0;
    QByteArray file; // shared with whoever shows it
};

LibjpegWriter::LibjpegWriter() : remembered_(std::make_unique<Remembered>()) {}

LibjpegWriter::~LibjpegWriter() = default;

WriteResult LibjpegWriter::write(const QImage &picture, const QString &path, int32_t quality,
                                 platform::OldFile old)
{
    return writeFile(picture, path, quality, old, true);
}

WriteResult LibjpegWriter::writeBeside(const QImage &picture, const QString &path, int32_t quality,
                                       platform::OldFile old)
{
    return writeFile(picture, path, quality, old, false);
}

WriteResult LibjpegWriter::writeFile(const QImage &picture, const QString &path, int32_t quality,
                                     const platform::OldFile &old, bool takeTurn)
{
    if (!writable(picture) || path.isEmpty())
        return WriteResult::FormatError;
    try {
        // The file's name in the system's own encoding.
        const QByteArray fileName = platform::nameBytes(path);

        platform::FileReplacement out;
        if (const WriteResult r = out.open(fileName.toStdString()); r != WriteResult::Written)
            return r;
        Encoded jpeg;
        QByteArray readOut;
        if (!takeTurn) {
            if (const WriteResult r = smallest(picture, quality, nullptr, jpeg);
                r != WriteResult::Written)
                return r;
        } else {
            const std::lock_guard lock(oneEncodingAtATime);
            if (!remembered_->file.isEmpty() && remembered_->picture == picture.cacheKey() &&
                remembered_->quality == quality)
                readOut = remembered_->file;
            else if (const WriteResult r = smallest(picture, quality, nullptr, jpeg);
                     r != WriteResult::Written)
                return r;
        }
        const WriteResult written =
            readOut.isEmpty()
                ? out.write(jpeg.bytes, jpeg.size)
                : out.write(reinterpret_cast<const unsigned char *>(readOut.constData()),
                            size_t(readOut.size()));
        if (written != WriteResult::Written)
            return written;
        return out.commit(old);
    } catch (const std::bad_alloc &) {
        // The destination, if opened, is abandoned on the way out: the old file stays.
        return WriteResult::OutOfMemory;
    }
}

QByteArray LibjpegWriter::encoded(const QImage &picture, int32_t quality,
                                  const std::atomic_bool *abandoned)
{
    if (!writable(picture))
        return {};
    try {
        const std::lock_guard lock(oneEncodingAtATime);
        QByteArray file;
        {
            Encoded jpeg;
            if (smallest(picture, quality, abandoned, jpeg) != WriteResult::Written)
                return {};
            file = QByteArray(reinterpret_cast<const char *>(jpeg.bytes), qsizetype(jpeg.size));
        }
        remembered_->picture = picture.cacheKey();
        remembered_->quality = quality;
        remembered_->file = file;
        return file;
    } catch (const std::bad_alloc &) {
        return {};
    }
}

} // namespace jpeg_encoder
