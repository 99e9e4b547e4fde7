#include "jpeg_encoder/dct.h"

#include <cmath>
#include <cstddef>
#include <cstring>

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

// Four samples as one value: GCC and Clang turn its arithmetic into vector
// instructions. A row of a block is two of them.
using Quad = float __attribute__((vector_size(16)));

Quad load(const float *p)
{
    Quad q;
    std::memcpy(&q, p, sizeof q);
    return q;
}

void store(float *p, Quad q)
{
    std::memcpy(p, &q, sizeof q);
}

// The 8-point transform of each column of a block at once, four columns at
// a time, through the symmetry of the cosines: row 7 - n meets the same
// cosine as row n, with the sign (-1)^k, so the even outputs need the sums
// of the pairs and the odd ones their differences, half the products of
// the plain matrix.
void dctColumns(const float *in, float *out)
{
    for (size_t half = 0; half < 8; half += 4) {
        Quad even[4], odd[4];
        for (size_t n = 0; n < 4; ++n) {
            const Quad a = load(in + n * 8 + half), b = load(in + (7 - n) * 8 + half);
            even[n] = a + b;
            odd[n] = a - b;
        }
        for (size_t k = 0; k < 8; k += 2) {
            Quad e = even[0] * Basis.m[0][k], o = odd[0] * Basis.m[0][k + 1];
            for (size_t n = 1; n < 4; ++n) {
                e += even[n] * Basis.m[n][k];
                o += odd[n] * Basis.m[n][k + 1];
            }
            store(out + k * 8 + half, e);
            store(out + (k + 1) * 8 + half, o);
        }
    }
}

void idctColumns(const float *in, float *out)
{
    for (size_t half = 0; half < 8; half += 4) {
        Quad rows[8];
        for (size_t k = 0; k < 8; ++k)
            rows[k] = load(in + k * 8 + half);
        for (size_t n = 0; n < 4; ++n) {
            Quad e = rows[0] * Basis.m[n][0], o = rows[1] * Basis.m[n][1];
            for (size_t k = 2; k < 8; k += 2) {
                e += rows[k] * Basis.m[n][k];
                o += rows[k + 1] * Basis.m[n][k + 1];
            }
            store(out + n * 8 + half, e + o);
            store(out + (7 - n) * 8 + half, e - o);
        }
    }
}

void transpose(const float *in, float *out)
{
    for (size_t r = 0; r < 8; ++r)
        for (size_t c = 0; c < 8; ++c)
            out[c * 8 + r] = in[r * 8 + c];
}

} // namespace

// Columns, then rows (as the columns of the transposed block).
void forwardDct(const Block &samples, Block &coefficients)
{
    float a[64], b[64];
    dctColumns(samples.data(), a);
    transpose(a, b);
    dctColumns(b, a);
    transpose(a, coefficients.data());
}

void inverseDct(const Block &coefficients, Block &samples)
{
    float a[64], b[64];
    idctColumns(coefficients.data(), a);
    transpose(a, b);
    idctColumns(b, a);
    transpose(a, samples.data());
}

} // namespace jpeg_encoder
