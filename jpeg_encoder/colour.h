#pragma once
// The colour transform, shared by the coefficients and the choice of sampling.

#include <QtGlobal>

namespace jpeg_encoder
{

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

} // namespace jpeg_encoder
