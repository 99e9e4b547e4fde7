#include "jpeg_encoder/libjpeg_glue.h"

#include <algorithm>

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

} // namespace jpeg_encoder
