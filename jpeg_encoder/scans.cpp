#include "jpeg_encoder/scans.h"

#include "jpeg_encoder/parallel.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

// after jpeglib.h, which it needs
#include <jerror.h>

namespace jpeg_encoder
{

namespace
{

constexpr size_t FirstCapacity = size_t(64) * 1024;

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
        out.bytes = static_cast<unsigned char *>(std::malloc(FirstCapacity));
        if (!out.bytes)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
        out.capacity = FirstCapacity;
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

// Progressive scans in spectral bands, without successive approximation:
// the DC of all three, then luma and colour from the lowest frequencies up.
const jpeg_scan_info ProgressiveScript[] = {
    {3, {0, 1, 2, 0}, 0, 0, 0, 0}, {1, {0}, 1, 2, 0, 0},   {1, {0}, 3, 9, 0, 0},
    {1, {1}, 1, 2, 0, 0},          {1, {2}, 1, 2, 0, 0},   {1, {1}, 3, 63, 0, 0},
    {1, {2}, 3, 63, 0, 0},         {1, {0}, 10, 24, 0, 0}, {1, {0}, 25, 63, 0, 0},
};

// The script in two parts written at once, each scan coded alone with its
// own tables: the DC and the lowest bands, and the rest (the colour's and the
// luma's higher bands), which take about as long. libjpeg takes no band
// before its component's DC, so the second part starts with the DC scan
// again, to be dropped.
constexpr size_t FirstPart = 5;
const jpeg_scan_info SecondPart[] = {
    ProgressiveScript[0], ProgressiveScript[5], ProgressiveScript[6],
    ProgressiveScript[7], ProgressiveScript[8],
};
static_assert(std::size(ProgressiveScript) == FirstPart + std::size(SecondPart) - 1);

// Below this many non-zero AC values a second thread costs about what it saves.
constexpr int64_t WorthSplitting = 50000;

// One file by libjpeg with the given scans, or baseline without a script.
WriteResult writeScript(Coefficients &coefficients, const QImage &picture, int32_t quality,
                        const Markers &markers, const jpeg_scan_info *script, size_t scans,
                        const std::atomic_bool *abandoned, Encoded &out)
{
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    MemoryDestination dest{};
    Progress progress{};
    reportErrorsTo(cinfo, err);
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
    describe(cinfo, picture, quality, coefficients.colourWhole(), coefficients.tuning());
    // Optimised Huffman tables: the same coefficients, fewer bytes.
    cinfo.optimize_coding = TRUE;
    if (script) {
        cinfo.scan_info = script;
        cinfo.num_scans = int(scans);
    }
    jpeg_write_coefficients(&cinfo, coefficients.arrays());
    writeMarkers(cinfo, markers);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return WriteResult::Written;
}

// Where the second scan of a file libjpeg wrote begins (its tables, then its
// header): past the segments up to the first scan's header and that scan's
// entropy-coded data, which ends at the first 0xFF not stuffed or a restart.
// Zero when the file is not laid out so.
size_t secondScanAt(const Encoded &file)
{
    const unsigned char *b = file.bytes;
    const size_t n = file.size;
    size_t at = 2;
    while (at + 4 <= n && b[at] == 0xFF) {
        const unsigned marker = b[at + 1];
        const size_t length = size_t(b[at + 2]) << 8 | b[at + 3];
        at += 2 + length;
        if (marker != 0xDA)
            continue;
        for (; at + 1 < n; ++at)
            if (b[at] == 0xFF && b[at + 1] != 0 && (b[at + 1] < 0xD0 || b[at + 1] > 0xD7))
                return at;
        return 0;
    }
    return 0;
}

bool endsWithEoi(const Encoded &file)
{
    return file.size >= 2 && file.bytes[file.size - 2] == 0xFF && file.bytes[file.size - 1] == 0xD9;
}

} // namespace

WriteResult writeScans(Coefficients &coefficients, const QImage &picture, int32_t quality,
                       const Markers &markers, bool progressive, const std::atomic_bool *abandoned,
                       Encoded &out)
{
    if (!progressive)
        return writeScript(coefficients, picture, quality, markers, nullptr, 0, abandoned, out);
    if (coefficients.nonZero() <= WorthSplitting)
        return writeScript(coefficients, picture, quality, markers, ProgressiveScript,
                           std::size(ProgressiveScript), abandoned, out);
    Encoded second;
    WriteResult firstResult = WriteResult::Written, secondResult = WriteResult::Written;
    inParallel(
        [&] {
            firstResult = writeScript(coefficients, picture, quality, markers, ProgressiveScript,
                                      FirstPart, abandoned, out);
        },
        [&] {
            secondResult = writeScript(coefficients, picture, quality, markers, SecondPart,
                                       std::size(SecondPart), abandoned, second);
        });
    if (firstResult != WriteResult::Written)
        return firstResult;
    if (secondResult != WriteResult::Written)
        return secondResult;
    // The first file without its end, then the second's later scans and end.
    // Should libjpeg ever lay them out otherwise, the file is written whole.
    const size_t from = secondScanAt(second);
    if (!from || !endsWithEoi(out) || !endsWithEoi(second)) {
        out.size = 0;
        return writeScript(coefficients, picture, quality, markers, ProgressiveScript,
                           std::size(ProgressiveScript), abandoned, out);
    }
    const size_t tail = second.size - from, size = out.size - 2 + tail;
    if (size > out.capacity) {
        auto *bytes = static_cast<unsigned char *>(std::realloc(out.bytes, size));
        if (!bytes)
            return WriteResult::OutOfMemory;
        out.bytes = bytes;
        out.capacity = size;
    }
    std::memcpy(out.bytes + out.size - 2, second.bytes + from, tail);
    out.size = size;
    return WriteResult::Written;
}

} // namespace jpeg_encoder
