#include "jpeg_encoder/writer.h"

#include "jpeg_encoder/coefficients.h"
#include "jpeg_encoder/decoder.h"
#include "jpeg_encoder/parallel.h"
#include "jpeg_encoder/scans.h"
#include "platform/files/file_names.h"
#include "platform/files/safe_replace.h"

#include <cmath>
#include <limits>
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
WriteResult encode(const QImage &picture, int32_t quality, const std::atomic_bool *abandoned,
                   Coefficients::Sampling sampling, Encoded &best, Coefficients::Sampling *chosen,
                   double *colourWorth, float *typicalStep)
{
    Coefficients coefficients;
    if (const WriteResult r = coefficients.make(picture, quality, abandoned, sampling);
        r != WriteResult::Written)
        return r;
    *chosen =
        coefficients.colourWhole() ? Coefficients::Sampling::Whole : Coefficients::Sampling::Halved;
    *colourWorth = coefficients.colourWorth();
    *typicalStep = coefficients.samplingStep();
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

// The file's squared error in RGB against the picture, plus lambda times its
// bits: what the choice of sampling makes least. For a quantiser of step q
// each bit saves about (ln 2 / 6) q^2 of squared error a sample at high
// rates, and a luma error counts three times in RGB.
double rateDistortionCost(const QImage &picture, const Encoded &file, float typicalStep)
{
    const QImage decoded =
        LibjpegDecoder()
            .decode(QByteArray::fromRawData(reinterpret_cast<const char *>(file.bytes),
                                            qsizetype(file.size)))
            .convertToFormat(QImage::Format_RGB32);
    if (decoded.size() != picture.size())
        return std::numeric_limits<double>::infinity();
    double error = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(decoded.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int r = qRed(a[x]) - qRed(b[x]), g = qGreen(a[x]) - qGreen(b[x]),
                      bl = qBlue(a[x]) - qBlue(b[x]);
            error += double(r * r + g * g + bl * bl);
        }
    }
    const double lambda = 3 * std::log(2.0) / 6 * double(typicalStep) * double(typicalStep);
    return error + lambda * 8 * double(file.size);
}

// The smaller file by rate and distortion. The colour's sampling is
// estimated from a sample of blocks; where the estimate is near its
// threshold, or the picture is small enough for two encodings to cost
// little, both samplings are written and decoded, and the one of lower
// cost kept.
WriteResult smallest(const QImage &picture, int32_t quality, const std::atomic_bool *abandoned,
                     Encoded &best)
{
    using Sampling = Coefficients::Sampling;
    Sampling chosen = Sampling::Halved;
    double worth = 0;
    float step = 1;
    if (const WriteResult r =
            encode(picture, quality, abandoned, Sampling::Estimated, best, &chosen, &worth, &step);
        r != WriteResult::Written)
        return r;
    constexpr qint64 SmallPicture = 250'000;
    const bool small =
        qint64(picture.width()) * picture.height()<SmallPicture, close = worth> 0.75 &&
        worth < 1.33;
    if (!small && !close)
        return WriteResult::Written;
    Encoded other;
    Sampling otherChosen = chosen;
    const WriteResult r = encode(picture, quality, abandoned,
                                 chosen == Sampling::Whole ? Sampling::Halved : Sampling::Whole,
                                 other, &otherChosen, &worth, &step);
    if (r == Abandoned)
        return r;
    // Short of memory for the second: the first stands.
    if (r != WriteResult::Written)
        return WriteResult::Written;
    if (rateDistortionCost(picture, other, step) < rateDistortionCost(picture, best, step))
        best = std::move(other);
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
