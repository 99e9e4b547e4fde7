#pragma once
// What the encoder's stages share with libjpeg: how it reports errors and
// asks whether to go on, the file's description, and the quantiser's
// settings read from its tables.

#include "core/services.h"
#include "jpeg_encoder/quantizer.h"

#include <QImage>

#include <atomic>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace jpeg_encoder
{

using platform::WriteResult;

// How a size run that a newer one replaced ends; no write reports it.
constexpr auto Abandoned = WriteResult(-1);

// libjpeg's errors end in a jump back to the setjmp of the stage that set
// this up, with the result they stand for.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    WriteResult result;
};
// Sets up cinfo's errors to be reported through err, silently.
void reportErrorsTo(jpeg_compress_struct &cinfo, ErrorManager &err);
void reportErrorsTo(jpeg_decompress_struct &cinfo, ErrorManager &err);

// Asked between rows of blocks: a size nobody waits for any more ends at once.
struct Progress {
    jpeg_progress_mgr base;
    const std::atomic_bool *abandoned;
};
void checkAbandoned(j_common_ptr cinfo);

// How the tables and the choice of coefficients are set at a quality:
// tuned on photos and screenshots for the fewest bytes at equal butteraugli
// and SSIMULACRA, at 30, 50, 75 and 90, and in between linearly.
struct Tuning {
    float lumaDc;       // the luma DC step against the usual table's
    float flatness;     // how far the luma table lies from the usual one towards a flat 16
    float colourDc;     // the colour tables' DC step before scaling
    float colourSlope;  // and their growth with frequency
    float colourWeight; // how much colour errors count against luma errors
    float lambdaScale;  // lambda = scale * typical luma step^2
    float busyWeight;   // how strongly busy blocks' errors count more than quiet ones'
};
Tuning tuningFor(int32_t quality);
// What the choice of the colour's sampling weighs with at every quality.
constexpr Tuning SamplingTuning{1.0f, 0.5f, 17, 6, 0.6f, 0.05f, 0.3f};

// What the holder of the coefficients and the writers agree on: size,
// colour, tables, sampling.
void describe(jpeg_compress_struct &cinfo, const QImage &picture, int32_t quality, bool colourWhole,
              const Tuning &tuning);

// The quantiser's settings for a component from cinfo's tables.
QuantizerSettings settingsFor(const jpeg_compress_struct &cinfo, int component, float typicalStep,
                              const Tuning &tuning);

} // namespace jpeg_encoder
