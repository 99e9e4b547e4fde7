#include "jpeg_encoder/quantizer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace jpeg_encoder
{

namespace
{

// The zigzag order in which AC coefficients are coded: position -> natural index.
constexpr std::array<uint8_t, 64> ZigZag{
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Baseline JPEG's AC values take at most 10 bits.
constexpr int MaxAc = 1023;
constexpr int MaxDc = 2047;

int magnitudeBits(int v)
{
    const auto magnitude = unsigned(std::abs(v));
    return magnitude ? 32 - __builtin_clz(magnitude) : 0;
}

// The finer half of the frequencies, either index 4 or more: what halving the
// resolution drops.
bool isFine(size_t n)
{
    return n >= 32 || n % 8 >= 4;
}

// The bits of a DC difference: its size category's code and the value's own bits.
float dcDifferenceBits(const std::array<uint8_t, 12> &dcBits, int difference)
{
    const int size = magnitudeBits(difference);
    return float(dcBits[size_t(std::min(size, 11))] + size);
}

// Half away from zero, exactly, without a call into libm: the truncation
// and the fraction left are both exact for values this small.
int roundHalfAway(float x)
{
    int t = int(x);
    const float fraction = x - float(t);
    if (fraction >= 0.5f)
        ++t;
    else if (fraction <= -0.5f)
        --t;
    return t;
}

} // namespace

BlockQuantizer::BlockQuantizer(const QuantizerSettings &s) : acBits_(s.acBits)
{
    for (size_t i = 0; i < 64; ++i) {
        step_[i] = float(std::max<uint16_t>(s.steps[i], 1));
        inverse_[i] = 1.0f / step_[i];
        // Coarse steps are where the eye forgives most: their errors weigh less.
        weight_[i] = s.componentWeight * std::pow(s.typicalStep / step_[i], s.errorExponent);
    }
    lambda_ = s.lambdaScale * s.typicalStep * s.typicalStep;
    for (int size = 1; size <= 10; ++size)
        for (int run = 0; run < 63; ++run)
            rateCost_[size_t(size)][size_t(run)] = lambda_ * float(symbolBits(run, size));
}

std::array<uint8_t, 256> BlockQuantizer::codeLengths(const uint8_t counts[17],
                                                     const uint8_t *symbols)
{
    // A symbol the table lacks costs as much as the longest code, so it is never chosen cheaply.
    std::array<uint8_t, 256> lengths;
    lengths.fill(16);
    int k = 0;
    for (int length = 1; length <= 16; ++length)
        for (int i = 0; i < counts[length] && k < 256; ++i)
            lengths[symbols[k++]] = uint8_t(length);
    return lengths;
}

int BlockQuantizer::symbolBits(int run, int size) const
{
    return (run >> 4) * acBits_[0xF0] + acBits_[size_t(((run & 15) << 4) | size)] + size;
}

void BlockQuantizer::quantize(const Block &c, QuantizedBlock &out, float errorScale) const
{
    out[0] = int16_t(std::clamp(roundHalfAway(c[0] * inverse_[0]), -MaxDc, MaxDc));

    // Per zigzag position: up to two non-zero choices (the nearest value and
    // the one a step nearer zero) and their errors.
    int value[64][2];
    float valueError[64][2];
    int choices[64];
    // The weighted error of each coefficient left out, and its value in
    // steps, in natural order: loops without tests, which vectorise.
    float zeroError[64], scaled[64];
    int roundsAway[64];
    for (size_t n = 0; n < 64; ++n) {
        const float w = errorScale * weight_[n];
        zeroError[n] = w * c[n] * c[n];
        scaled[n] = c[n] * inverse_[n];
        roundsAway[n] = int(std::abs(scaled[n]) >= 0.5f);
    }
    // Positions that can be non-zero, ascending. Most values round to zero,
    // and zero is their only choice; which ones is close to random, so the
    // list is made without a branch to mispredict.
    int kept[64];
    int keptCount = 0;
    // prefixZero[k]: the zero errors of positions 1..k-1.
    float prefixZero[65];
    prefixZero[0] = prefixZero[1] = 0;
    for (int k = 1; k < 64; ++k) {
        const size_t n = ZigZag[size_t(k)];
        prefixZero[k + 1] = prefixZero[k] + zeroError[n];
        kept[keptCount] = k;
        keptCount += roundsAway[n];
    }
    for (int a = 0; a < keptCount; ++a) {
        const int k = kept[a];
        const size_t n = ZigZag[size_t(k)];
        const float x = c[n], w = errorScale * weight_[n];
        choices[k] = 0;
        const int nearest = std::clamp(roundHalfAway(scaled[n]), -MaxAc, MaxAc);
        const int nearer = nearest - (nearest > 0) + (nearest < 0);
        for (int v : {nearest, nearer}) {
            if (v == 0)
                continue;
            const float e = x - float(v) * step_[n];
            const float error = w * e * e;
            // Of two values coded in as many bits, the one of less error
            // costs less after any run (the nearest, but for rounding).
            if (choices[k] == 1 && magnitudeBits(v) == magnitudeBits(value[k][0])) {
                if (error < valueError[k][0]) {
                    value[k][0] = v;
                    valueError[k][0] = error;
                }
                continue;
            }
            value[k][choices[k]] = v;
            valueError[k][choices[k]] = error;
            ++choices[k];
        }
    }

    // Dynamic programming over the last non-zero position: best[k] is the
    // least cost of positions 1..k with k non-zero; its predecessor is the
    // start (b = -1) or any earlier candidate.
    float best[64];
    int from[64], chosen[64];
    best[0] = 0;
    for (int a = 0; a < keptCount; ++a) {
        const int k = kept[a];
        float bestCost = std::numeric_limits<float>::infinity();
        for (int ch = 0; ch < choices[k]; ++ch) {
            const float *rate = rateCost_[size_t(magnitudeBits(value[k][ch]))].data();
            for (int b = -1; b < a; ++b) {
                const int j = b < 0 ? 0 : kept[b];
                const float cost = best[j] + (prefixZero[k] - prefixZero[j + 1]) + rate[k - j - 1] +
                                   valueError[k][ch];
                if (cost < bestCost) {
                    bestCost = cost;
                    from[k] = j;
                    chosen[k] = value[k][ch];
                }
            }
        }
        best[k] = bestCost;
    }

    // Where the block ends: after the last non-zero value an end-of-block
    // symbol, unless that value is the 63rd.
    const float eobBits = acBits_[0x00];
    int last = 0;
    float lastCost = prefixZero[64] + lambda_ * eobBits;
    for (int a = 0; a < keptCount; ++a) {
        const int k = kept[a];
        const float cost =
            best[k] + (prefixZero[64] - prefixZero[k + 1]) + (k < 63 ? lambda_ * eobBits : 0.0f);
        if (cost < lastCost) {
            lastCost = cost;
            last = k;
        }
    }
    std::fill(out.begin() + 1, out.end(), int16_t(0));
    for (int k = last; k > 0; k = from[k])
        out[ZigZag[size_t(k)]] = int16_t(chosen[k]);
}

double BlockQuantizer::cost(const Block &c, const QuantizedBlock &values) const
{
    double total = 0;
    int run = 0, last = 0;
    for (int k = 1; k < 64; ++k) {
        const int n = ZigZag[size_t(k)];
        const double e = c[size_t(n)] - double(values[size_t(n)]) * step_[size_t(n)];
        total += weight_[size_t(n)] * e * e;
        if (values[size_t(n)] == 0) {
            ++run;
            continue;
        }
        total += lambda_ * symbolBits(run, magnitudeBits(values[size_t(n)]));
        run = 0;
        last = k;
    }
    if (last < 63)
        total += lambda_ * acBits_[0x00];
    return total;
}

void BlockQuantizer::letClippedOvershoot(Block &samples, uint64_t white, uint64_t black) const
{
    const uint64_t clipped = white | black;
    if (!clipped || clipped == ~uint64_t(0))
        return;
    // Centred samples of pure white and pure black, and how far beyond them
    // a sample may go.
    constexpr float White = 127.0f, Black = -128.0f;
    const float reach = std::min(4 * step_[0], 96.0f);
    const Block original = samples;
    Block coefficients;
    // Alternately: keep only the frequencies worth half a step or more, then
    // put back every sample that must stay and hold the clipped ones beyond
    // their limit, until the samples settle. Each round carries the clipped
    // samples on past where it puts them, by 1.2 times how far they moved:
    // they settle in far fewer rounds (tuned on text pages).
    constexpr float Carry = 1.2f;
    Block previous = samples;
    for (int round = 0; round < 32; ++round) {
        forwardDct(samples, coefficients);
        for (size_t n = 1; n < 64; ++n)
            if (std::abs(coefficients[n]) < 0.5f * step_[n])
                coefficients[n] = 0;
        inverseDct(coefficients, samples);
        float moved = 0;
        for (size_t n = 0; n < 64; ++n) {
            const float before = samples[n];
            if ((white >> n) & 1) {
                const float p = std::clamp(samples[n], White, White + reach);
                samples[n] = std::clamp(p + Carry * (p - previous[n]), White, White + reach);
            } else if ((black >> n) & 1) {
                const float p = std::clamp(samples[n], Black - reach, Black);
                samples[n] = std::clamp(p + Carry * (p - previous[n]), Black - reach, Black);
            } else
                samples[n] = original[n];
            moved = std::max(moved, std::abs(samples[n] - before));
            previous[n] = samples[n];
        }
        if (moved < 0.5f)
            break;
    }
}

double BlockQuantizer::fineDetailWorth(const Block &c) const
{
    QuantizedBlock values;
    quantize(c, values);
    QuantizedBlock dropped = values;
    bool anyFine = false;
    for (size_t n = 0; n < 64; ++n)
        if (isFine(n) && dropped[n]) {
            dropped[n] = 0;
            anyFine = true;
        }
    return anyFine ? std::max(0.0, cost(c, dropped) - cost(c, values)) : 0.0;
}

void BlockQuantizer::chooseDc(const std::vector<float> &coefficients,
                              const std::array<uint8_t, 12> &dcBits,
                              std::vector<int16_t> &values) const
{
    const size_t count = coefficients.size();
    values.resize(count);
    if (!count)
        return;
    // Two candidates a block; from[i][c]: the candidate of block i - 1 that
    // the cheapest sequence ending in candidate c of block i comes from.
    std::vector<std::array<int16_t, 2>> candidates(count);
    std::vector<std::array<uint8_t, 2>> from(count);
    const auto bits = [&](int difference) { return dcDifferenceBits(dcBits, difference); };
    std::array<float, 2> cost{};
    for (size_t i = 0; i < count; ++i) {
        const float x = coefficients[i] * inverse_[0];
        const int nearest = std::clamp(roundHalfAway(x), -MaxDc, MaxDc);
        const int other = std::clamp(x > float(nearest) ? nearest + 1 : nearest - 1, -MaxDc, MaxDc);
        candidates[i] = {int16_t(nearest), int16_t(other)};
        std::array<float, 2> next{};
        for (size_t c = 0; c < 2; ++c) {
            const float e = coefficients[i] - float(candidates[i][c]) * step_[0];
            const float error = weight_[0] * e * e;
            if (i == 0) {
                next[c] = error + lambda_ * bits(candidates[i][c]);
                from[i][c] = 0;
                continue;
            }
            float best = std::numeric_limits<float>::infinity();
            for (size_t p = 0; p < 2; ++p) {
                const float total =
                    cost[p] + lambda_ * bits(candidates[i][c] - candidates[i - 1][p]);
                if (total < best) {
                    best = total;
                    from[i][c] = uint8_t(p);
                }
            }
            next[c] = best + error;
        }
        cost = next;
    }
    size_t c = cost[1] < cost[0] ? 1 : 0;
    for (size_t i = count; i-- > 0;) {
        values[i] = candidates[i][c];
        c = from[i][c];
    }
}

double BlockQuantizer::dcCost(const std::vector<float> &coefficients,
                              const std::array<uint8_t, 12> &dcBits,
                              const std::vector<int16_t> &values) const
{
    double total = 0;
    int previous = 0;
    for (size_t i = 0; i < coefficients.size() && i < values.size(); ++i) {
        const double e = coefficients[i] - double(values[i]) * step_[0];
        total += weight_[0] * e * e + lambda_ * dcDifferenceBits(dcBits, values[i] - previous);
        previous = values[i];
    }
    return total;
}

float BlockQuantizer::finestFineStep() const
{
    float finest = std::numeric_limits<float>::infinity();
    for (size_t n = 0; n < 64; ++n)
        if (isFine(n))
            finest = std::min(finest, step_[n]);
    return finest;
}

double BlockQuantizer::emptyBlockCost() const
{
    // An end of block, and a DC difference of zero in about two bits.
    return double(lambda_) * (acBits_[0x00] + 2);
}

} // namespace jpeg_encoder
