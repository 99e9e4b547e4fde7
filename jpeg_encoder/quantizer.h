#pragma once
// The choice of each block's coefficients by rate and distortion, between
// the DCT and libjpeg's entropy coders. Plain rounding to the nearest step
// spends bits on coefficients that barely round away from zero; here each
// block takes the values that cost the least weighted error plus lambda times
// the bits of their Huffman symbols.

#include "jpeg_encoder/dct.h"

#include <array>
#include <cstdint>
#include <vector>

namespace jpeg_encoder
{

using QuantizedBlock = std::array<int16_t, 64>;

// How the errors and the bits of one component are weighed.
struct QuantizerSettings {
    std::array<uint16_t, 64> steps{};  // the quantisation table, natural order
    std::array<uint8_t, 256> acBits{}; // code length of each AC symbol (run << 4 | size)
    float typicalStep = 1;             // the geometric mean of the luma AC steps
    float componentWeight = 1;         // colour errors count less than luma errors
    float errorExponent = 1.25f;       // weight (typical step / step)^exponent
    float lambdaScale = 0.04f;         // lambda = scale * typical step^2
};

class BlockQuantizer
{
public:
    explicit BlockQuantizer(const QuantizerSettings &settings);

    // Pure white and pure black come back from the decoder clipped, so a
    // luma sample there (a bit set in whiteSamples or blackSamples, natural
    // order) may be coded as anything beyond the limit. The edges of black
    // text on white ring, and cancelling the ringing exactly costs bits:
    // such samples are let overshoot the way the block's cheap, smooth part
    // runs. The others stay as they are.
    void letClippedOvershoot(Block &samples, uint64_t whiteSamples, uint64_t blackSamples) const;

    // DC rounded to the nearest step; the AC values chosen by rate and
    // distortion. errorScale: how much this block's errors count, below 1
    // where busy texture hides them.
    void quantize(const Block &coefficients, QuantizedBlock &out, float errorScale = 1) const;

    // The weighted error plus lambda times the AC bits of a block's values:
    // what quantize makes least (for tests and tuning).
    double cost(const Block &coefficients, const QuantizedBlock &values) const;

    // What the finer half of a block's frequencies (either index 4 or more),
    // which halving the resolution would drop, is worth: the cost with them
    // dropped less the cost of what quantize chooses. Zero when dropping them
    // costs nothing.
    double fineDetailWorth(const Block &coefficients) const;

    // The smallest step among those frequencies.
    float finestFineStep() const;

    // Lambda times the fewest bits a block of zeros costs beside its DC: the
    // price of every block that exists at all.
    double emptyBlockCost() const;

    // The DC values of a run of blocks coded one after the other, each
    // predicted from the one before (the first from zero): the nearest step
    // or the next one towards the coefficient, whichever sequence costs the
    // least weighted error plus lambda times the bits of the differences.
    // dcBits: the code length of each difference's size category 0..11.
    void chooseDc(const std::vector<float> &coefficients, const std::array<uint8_t, 12> &dcBits,
                  std::vector<int16_t> &values) const;

    // The weighted error plus lambda times the bits of such a sequence: what
    // chooseDc makes least (for tests).
    double dcCost(const std::vector<float> &coefficients, const std::array<uint8_t, 12> &dcBits,
                  const std::vector<int16_t> &values) const;

    // Code lengths of the symbols of a Huffman table given as JPEG's DHT does:
    // counts of codes of each length 1..16, then the symbols in code order.
    static std::array<uint8_t, 256> codeLengths(const uint8_t counts[17], const uint8_t *symbols);

private:
    // Bits of a value of the given size after a run of zeros: the sixteen-zero
    // symbols, the run/size symbol and the value's own bits.
    int symbolBits(int run, int size) const;

    std::array<float, 64> step_{}, inverse_{}, weight_{};
    std::array<uint8_t, 256> acBits_{};
    float lambda_ = 0;
    // Lambda times the bits of a value of each size (1..10) after each run
    // of zeros (0..62).
    std::array<std::array<float, 64>, 11> rateCost_{};
};

} // namespace jpeg_encoder
