#pragma once
// JPEG's orthonormal 2-D DCT of 8x8 samples already centred on zero, and back.

#include <array>
#include <cstdint>

namespace jpeg_encoder
{

// An 8x8 block in JPEG's natural order (row by row, the row index is the
// vertical frequency).
using Block = std::array<float, 64>;

void forwardDct(const Block &samples, Block &coefficients);
void inverseDct(const Block &coefficients, Block &samples);

} // namespace jpeg_encoder
