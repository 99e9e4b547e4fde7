#include "jpeg_encoder/dct.h"

#include <cmath>
#include <cstddef>

namespace jpeg_encoder
{

namespace
{

// The 1-D orthonormal DCT-II as a matrix, transposed: Basis[n][k].
struct DctBasis {
    float m[8][8];
    DctBasis()
    {
        const double pi = std::acos(-1.0);
        for (int n = 0; n < 8; ++n)
            for (int k = 0; k < 8; ++k)
                m[n][k] =
                    float((k == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * k * pi / 16));
    }
};
const DctBasis Basis;

// The 8-point transform and its inverse through the symmetry of the cosines:
// sample 7 - n meets the same cosine as sample n, with the sign (-1)^k, so
// the even outputs need the sums of the pairs and the odd ones their
// differences, half the products of the plain matrix.
void dct8(const float *in, size_t inStride, float *out, size_t outStride)
{
    float even[4], odd[4];
    for (size_t n = 0; n < 4; ++n) {
        const float a = in[n * inStride], b = in[(7 - n) * inStride];
        even[n] = a + b;
        odd[n] = a - b;
    }
    for (size_t k = 0; k < 8; k += 2) {
        float e = 0, o = 0;
        for (size_t n = 0; n < 4; ++n) {
            e += even[n] * Basis.m[n][k];
            o += odd[n] * Basis.m[n][k + 1];
        }
        out[k * outStride] = e;
        out[(k + 1) * outStride] = o;
    }
}

void idct8(const float *in, size_t inStride, float *out, size_t outStride)
{
    for (size_t n = 0; n < 4; ++n) {
        float e = 0, o = 0;
        for (size_t k = 0; k < 8; k += 2) {
            e += in[k * inStride] * Basis.m[n][k];
            o += in[(k + 1) * inStride] * Basis.m[n][k + 1];
        }
        out[n * outStride] = e + o;
        out[(7 - n) * outStride] = e - o;
    }
}

} // namespace

void forwardDct(const Block &samples, Block &coefficients)
{
    // Rows, then columns.
    float rows[64];
    for (size_t r = 0; r < 8; ++r)
        dct8(samples.data() + r * 8, 1, rows + r * 8, 1);
    for (size_t k = 0; k < 8; ++k)
        dct8(rows + k, 8, coefficients.data() + k, 8);
}

void inverseDct(const Block &coefficients, Block &samples)
{
    float columns[64];
    for (size_t k = 0; k < 8; ++k)
        idct8(coefficients.data() + k, 8, columns + k, 8);
    for (size_t r = 0; r < 8; ++r)
        idct8(columns + r * 8, 1, samples.data() + r * 8, 1);
}

} // namespace jpeg_encoder
