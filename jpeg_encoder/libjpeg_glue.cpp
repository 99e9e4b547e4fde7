#include "jpeg_encoder/libjpeg_glue.h"

#include <algorithm>
#include <cmath>
#include <iterator>

// after jpeglib.h, which it needs
#include <jerror.h>

namespace jpeg_encoder
{

namespace
{

void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    switch (cinfo->err->msg_code) {
    case JERR_FILE_WRITE:
        err->result = WriteResult::CannotWrite;
        break;
    case JERR_OUT_OF_MEMORY:
        err->result = WriteResult::OutOfMemory;
        break;
    default:
        err->result = WriteResult::FormatError;
        break;
    }
    std::longjmp(err->jump, 1);
}

void silent(j_common_ptr, int) {}

} // namespace

void reportErrorsTo(jpeg_compress_struct &cinfo, ErrorManager &err)
{
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = silent;
}

void reportErrorsTo(jpeg_decompress_struct &cinfo, ErrorManager &err)
{
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = silent;
}

void checkAbandoned(j_common_ptr cinfo)
{
    const auto *progress = reinterpret_cast<Progress *>(cinfo->progress);
    if (progress->abandoned && progress->abandoned->load(std::memory_order_relaxed)) {
        auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
        err->result = Abandoned;
        std::longjmp(err->jump, 1);
    }
}

namespace
{
constexpr unsigned AnnexKLuma[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                     58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                     22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                     77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                     103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};

// The tables before scaling by quality. Luma is the usual table part of
// the way (in logarithms) to a flat 16: its coarse high frequencies smear
// text and fine edges, which butteraugli and SSIMULACRA see plainly; its DC
// step is finer at low qualities, where a coarse one leaves flat areas in
// visible blocks. Colour grows evenly with frequency, and Cr, which carries
// the reds the eye picks out first, is a little finer than Cb.
std::array<unsigned, 64> baseTable(int component, const Tuning &tuning)
{
    const float colourScale = component == 2 ? 0.8f : 1.0f;
    std::array<unsigned, 64> t{};
    for (size_t n = 0; n < 64; ++n) {
        const auto r = float(size_t(n / 8) + n % 8); // the row plus the column
        float v;
        if (component == 0)
            v = std::pow(float(AnnexKLuma[n]), 1 - tuning.flatness) *
                std::pow(16.0f, tuning.flatness) * (n == 0 ? tuning.lumaDc : 1.0f);
        else
            v = colourScale * (tuning.colourDc + tuning.colourSlope * r);
        t[n] = unsigned(std::clamp(std::lround(v), 1L, 255L));
    }
    return t;
}

constexpr int Anchors[] = {30, 50, 75, 90};
// Towards low qualities a finer luma DC, a luma table nearer the usual one,
// a finer colour DC and a smaller lambda; at 90 colour errors count as much
// as luma errors, busy blocks no more than quiet ones, and the bits more.
constexpr Tuning AtAnchors[] = {
    // luma DC, flatness, colour DC, colour slope, colour weight, lambda, busy weight
    {0.7f, 0.3f, 14, 6, 0.6f, 0.04f, 0.3f},  // 30
    {1.0f, 0.4f, 14, 6, 0.6f, 0.045f, 0.3f}, // 50
    {1.0f, 0.45f, 17, 6, 0.6f, 0.05f, 0.3f}, // 75
    {1.0f, 0.5f, 17, 6, 1.0f, 0.07f, 0.0f},  // 90
};
} // namespace

void describe(jpeg_compress_struct &cinfo, const QImage &picture, int32_t quality, bool colourWhole,
              const Tuning &tuning)
{
    cinfo.image_width = JDIMENSION(picture.width());
    cinfo.image_height = JDIMENSION(picture.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    const int scale = jpeg_quality_scaling(std::clamp(quality, 1, 100));
    for (int c = 0; c < 3; ++c) {
        const std::array<unsigned, 64> table = baseTable(c, tuning);
        jpeg_add_quant_table(&cinfo, c, table.data(), scale, TRUE);
        cinfo.comp_info[c].quant_tbl_no = c;
    }
    if (colourWhole) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
}

Tuning tuningFor(int32_t quality)
{
    const float q = float(std::clamp(quality, Anchors[0], Anchors[std::size(Anchors) - 1]));
    size_t i = 0;
    while (i + 2 < std::size(Anchors) && q > float(Anchors[i + 1]))
        ++i;
    const float t = (q - float(Anchors[i])) / float(Anchors[i + 1] - Anchors[i]);
    const Tuning &a = AtAnchors[i], &b = AtAnchors[i + 1];
    const auto mix = [t](float x, float y) { return x + t * (y - x); };
    return {mix(a.lumaDc, b.lumaDc),
            mix(a.flatness, b.flatness),
            mix(a.colourDc, b.colourDc),
            mix(a.colourSlope, b.colourSlope),
            mix(a.colourWeight, b.colourWeight),
            mix(a.lambdaScale, b.lambdaScale),
            mix(a.busyWeight, b.busyWeight)};
}

// Coarse steps are where the eye forgives most: their errors weigh less,
// as (typical step / step)^ErrorExponent.
constexpr float ErrorExponent = 1.1f;

QuantizerSettings settingsFor(const jpeg_compress_struct &cinfo, int component, float typicalStep,
                              const Tuning &tuning)
{
    const jpeg_component_info &info = cinfo.comp_info[component];
    QuantizerSettings s;
    const JQUANT_TBL *table = cinfo.quant_tbl_ptrs[info.quant_tbl_no];
    std::copy(table->quantval, table->quantval + 64, s.steps.begin());
    const JHUFF_TBL *ac = cinfo.ac_huff_tbl_ptrs[info.ac_tbl_no];
    s.acBits = BlockQuantizer::codeLengths(ac->bits, ac->huffval);
    s.typicalStep = typicalStep;
    s.componentWeight = component == 0 ? 1.0f : tuning.colourWeight;
    s.errorExponent = ErrorExponent;
    s.lambdaScale = tuning.lambdaScale;
    return s;
}

} // namespace jpeg_encoder
