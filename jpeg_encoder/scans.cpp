#include "jpeg_encoder/scans.h"

#include <cstdlib>
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

} // namespace

WriteResult writeScans(Coefficients &coefficients, const QImage &picture, int32_t quality,
                       const Markers &markers, bool progressive, const std::atomic_bool *abandoned,
                       Encoded &out)
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
    if (progressive) {
        cinfo.scan_info = ProgressiveScript;
        cinfo.num_scans = int(std::size(ProgressiveScript));
    }
    jpeg_write_coefficients(&cinfo, coefficients.arrays());
    writeMarkers(cinfo, markers);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return WriteResult::Written;
}

} // namespace jpeg_encoder
