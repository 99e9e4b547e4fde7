// The encoder's front half on its own: the DCT against JPEG's formula, and
// the choice of coefficients against every other choice it could have made.
#include "jpeg_encoder/quantizer.h"

#include <QTest>

#include <cmath>
#include <cstdio>
#include <random>

#include <jpeglib.h>

using jpeg_encoder::Block;
using jpeg_encoder::BlockQuantizer;
using jpeg_encoder::QuantizedBlock;
using jpeg_encoder::QuantizerSettings;

namespace
{
// libjpeg's standard tables at quality 50, as it sets them up, for read to see.
template <typename Read> void standardTables(Read read)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 50, TRUE);
    read(cinfo);
    jpeg_destroy_compress(&cinfo);
}

// The standard luminance tables.
QuantizerSettings standardLuma()
{
    QuantizerSettings s;
    standardTables([&](const jpeg_compress_struct &cinfo) {
        std::copy(cinfo.quant_tbl_ptrs[0]->quantval, cinfo.quant_tbl_ptrs[0]->quantval + 64,
                  s.steps.begin());
        s.acBits = BlockQuantizer::codeLengths(cinfo.ac_huff_tbl_ptrs[0]->bits,
                                               cinfo.ac_huff_tbl_ptrs[0]->huffval);
    });
    s.typicalStep = 40;
    return s;
}

Block randomSamples(std::mt19937 &random, float spread)
{
    std::normal_distribution<float> noise(0, spread);
    Block b;
    const float base = noise(random);
    for (size_t i = 0; i < 64; ++i)
        b[i] = std::clamp(base + noise(random) + 2 * float(i % 8), -128.0f, 127.0f);
    return b;
}
} // namespace

class TestQuantizer : public QObject
{
    Q_OBJECT

private slots:
    // F(u,v) = 1/4 C(u) C(v) sum f(x,y) cos((2x+1)u pi/16) cos((2y+1)v pi/16).
    void dctIsJpegsDct()
    {
        std::mt19937 random(7);
        const double pi = std::acos(-1.0);
        for (int round = 0; round < 20; ++round) {
            const Block samples = randomSamples(random, 60);
            Block ours;
            jpeg_encoder::forwardDct(samples, ours);
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    double sum = 0;
                    for (int y = 0; y < 8; ++y)
                        for (int x = 0; x < 8; ++x)
                            sum += samples[size_t(y) * 8 + size_t(x)] *
                                   std::cos((2 * x + 1) * u * pi / 16) *
                                   std::cos((2 * y + 1) * v * pi / 16);
                    const double f = 0.25 * (u ? 1 : M_SQRT1_2) * (v ? 1 : M_SQRT1_2) * sum;
                    QVERIFY2(std::abs(f - ours[size_t(v * 8 + u)]) < 1e-3,
                             qPrintable(QStringLiteral("u %1 v %2").arg(u).arg(v)));
                }
            Block back;
            jpeg_encoder::inverseDct(ours, back);
            for (size_t i = 0; i < 64; ++i)
                QVERIFY(std::abs(back[i] - samples[i]) < 1e-3);
        }
    }

    void codeLengthsOfTheStandardTable()
    {
        const QuantizerSettings s = standardLuma();
        QCOMPARE(int(s.acBits[0x00]), 4);  // end of block, 1010
        QCOMPARE(int(s.acBits[0x01]), 2);  // 00
        QCOMPARE(int(s.acBits[0x11]), 4);  // 1100
        QCOMPARE(int(s.acBits[0xF0]), 11); // sixteen zeros, 11111111001
        QCOMPARE(int(s.acBits[0xFA]), 16);
    }

    // With no weight on bits, every coefficient is the nearest step.
    void withoutLambdaItRounds()
    {
        QuantizerSettings s = standardLuma();
        s.lambdaScale = 0;
        const BlockQuantizer quantizer(s);
        std::mt19937 random(11);
        for (int round = 0; round < 200; ++round) {
            Block coefficients;
            jpeg_encoder::forwardDct(randomSamples(random, 50), coefficients);
            QuantizedBlock values;
            quantizer.quantize(coefficients, values);
            for (size_t i = 0; i < 64; ++i)
                QCOMPARE(int(values[i]), int(std::lround(coefficients[i] / float(s.steps[i]))));
        }
    }

    // Blocks with few candidates: every choice of zero, the nearest value or
    // one step nearer zero for each, tried by brute force. Nothing beats the
    // quantizer's choice, and rounding never does better than it.
    void noChoiceCostsLess()
    {
        const QuantizerSettings s = standardLuma();
        const BlockQuantizer quantizer(s);
        std::mt19937 random(3);
        std::uniform_int_distribution<int> position(1, 63);
        std::uniform_real_distribution<float> size(0.3f, 3.6f);
        std::bernoulli_distribution negative(0.5);
        int changed = 0;
        for (int round = 0; round < 300; ++round) {
            Block c{};
            c[0] = 100;
            // Up to six coefficients at random places, between a third of a step and a few steps.
            std::vector<int> places;
            for (int n = 0; n < 1 + round % 6; ++n) {
                const int p = position(random);
                if (std::find(places.begin(), places.end(), p) != places.end())
                    continue;
                places.push_back(p);
                c[size_t(p)] = size(random) * s.steps[size_t(p)] * (negative(random) ? -1 : 1);
            }
            QuantizedBlock chosen, rounded{};
            quantizer.quantize(c, chosen);
            for (size_t i = 0; i < 64; ++i)
                rounded[i] = int16_t(std::lround(c[i] / float(s.steps[i])));
            const double best = quantizer.cost(c, chosen);
            QVERIFY(best <= quantizer.cost(c, rounded) + 1e-3);
            changed += chosen != rounded;
            int combinations = 1;
            for (size_t n = 0; n < places.size(); ++n)
                combinations *= 3;
            for (int k = 0; k < combinations; ++k) {
                QuantizedBlock tried = rounded;
                int code = k;
                for (int p : places) {
                    const int nearest = rounded[size_t(p)];
                    const int options[3] = {nearest, nearest - (nearest > 0) + (nearest < 0), 0};
                    tried[size_t(p)] = int16_t(options[code % 3]);
                    code /= 3;
                }
                QVERIFY2(best <= quantizer.cost(c, tried) * (1 + 1e-5) + 1e-3,
                         qPrintable(QStringLiteral("round %1").arg(round)));
            }
        }
        // The choice is not plain rounding in disguise.
        QVERIFY(changed > 30);
    }

    // The DC values as a chain of differences: no other choice among the two
    // nearest steps of each block costs less, and the choice is not plain
    // rounding; without lambda it is plain rounding.
    void dcChainCostsLeast()
    {
        std::array<uint8_t, 12> dcBits;
        standardTables([&](const jpeg_compress_struct &cinfo) {
            const std::array<uint8_t, 256> lengths = BlockQuantizer::codeLengths(
                cinfo.dc_huff_tbl_ptrs[0]->bits, cinfo.dc_huff_tbl_ptrs[0]->huffval);
            std::copy(lengths.begin(), lengths.begin() + 12, dcBits.begin());
        });

        const BlockQuantizer quantizer(standardLuma());
        QuantizerSettings plain = standardLuma();
        plain.lambdaScale = 0;
        const BlockQuantizer rounding(plain);
        const float step = float(standardLuma().steps[0]);
        std::mt19937 random(11);
        std::normal_distribution<float> drift(0, 1.5f * step);
        int differentFromRounding = 0;
        for (int round = 0; round < 40; ++round) {
            std::vector<float> dc(10);
            float level = drift(random) * 4;
            for (float &d : dc)
                d = (level += drift(random));
            std::vector<int16_t> chosen, rounded;
            quantizer.chooseDc(dc, dcBits, chosen);
            rounding.chooseDc(dc, dcBits, rounded);
            const double best = quantizer.dcCost(dc, dcBits, chosen);
            for (size_t i = 0; i < dc.size(); ++i) {
                QCOMPARE(int(rounded[i]), int(std::lround(dc[i] / step)));
                differentFromRounding += chosen[i] != rounded[i];
            }
            // Every other sequence of the two nearest steps.
            for (unsigned mask = 0; mask < (1u << dc.size()); ++mask) {
                std::vector<int16_t> tried(dc.size());
                for (size_t i = 0; i < dc.size(); ++i) {
                    const float x = dc[i] / step;
                    const int below = int(std::floor(x));
                    tried[i] = int16_t(((mask >> i) & 1) ? below + 1 : below);
                }
                QVERIFY2(best <= quantizer.dcCost(dc, dcBits, tried) + 1e-3,
                         qPrintable(QStringLiteral("round %1 mask %2").arg(round).arg(mask)));
            }
        }
        QVERIFY(differentFromRounding > 10);
    }

    // Black strokes on white: the clipped samples go beyond their limits,
    // the others stay, and the block costs less to code while it decodes,
    // after the decoder's clipping, no farther from the original.
    void clippedSamplesOvershoot()
    {
        const BlockQuantizer quantizer(standardLuma());
        Block stroke;
        uint64_t white = 0, black = 0;
        for (size_t n = 0; n < 64; ++n) {
            const size_t x = n % 8, y = n / 8;
            const bool ink = x == 3 || x == 4 || (y == 2 && x > 1);
            stroke[n] = ink ? -128.0f : x == 2 ? 0.0f : 127.0f; // one grey column of smoothing
            white |= uint64_t(stroke[n] == 127.0f) << n;
            black |= uint64_t(stroke[n] == -128.0f) << n;
        }
        Block overshot = stroke;
        quantizer.letClippedOvershoot(overshot, white, black);
        int beyond = 0;
        for (size_t n = 0; n < 64; ++n) {
            if ((white >> n) & 1)
                QVERIFY(overshot[n] >= 127.0f);
            else if ((black >> n) & 1)
                QVERIFY(overshot[n] <= -128.0f);
            else
                QCOMPARE(overshot[n], stroke[n]);
            beyond += overshot[n] > 127.5f || overshot[n] < -128.5f;
        }
        QVERIFY(beyond > 8);

        const auto coded = [&](const Block &samples, double &bitsCost) {
            Block c, back;
            QuantizedBlock q;
            jpeg_encoder::forwardDct(samples, c);
            quantizer.quantize(c, q);
            bitsCost = quantizer.cost(c, q);
            int nonZero = 0;
            for (size_t n = 0; n < 64; ++n) {
                c[n] = float(q[n]) * float(standardLuma().steps[n]);
                nonZero += n > 0 && q[n] != 0;
            }
            jpeg_encoder::inverseDct(c, back);
            double error = 0;
            for (size_t n = 0; n < 64; ++n) {
                const double d = std::clamp(back[n], -128.0f, 127.0f) - stroke[n];
                error += d * d;
            }
            return std::pair(nonZero, error);
        };
        double plainCost = 0, overshotCost = 0;
        const auto [plainValues, plainError] = coded(stroke, plainCost);
        const auto [overshotValues, overshotError] = coded(overshot, overshotCost);
        QVERIFY2(overshotValues < plainValues,
                 qPrintable(
                     QStringLiteral("%1 values against %2").arg(overshotValues).arg(plainValues)));
        QVERIFY2(
            overshotError <= plainError,
            qPrintable(QStringLiteral("error %1 against %2").arg(overshotError).arg(plainError)));

        // Nothing to gain where everything or nothing is clipped.
        Block flat;
        flat.fill(127.0f);
        Block same = flat;
        quantizer.letClippedOvershoot(same, ~uint64_t(0), 0);
        QVERIFY(same == flat);
        same = stroke;
        quantizer.letClippedOvershoot(same, 0, 0);
        QVERIFY(same == stroke);
    }

    // Halving drops a fine pattern, whose worth the quantiser counts, and
    // nothing of a smooth ramp.
    void fineDetailIsWorthWhatItCosts()
    {
        const BlockQuantizer quantizer(standardLuma());
        Block ramp, checks, c;
        for (size_t n = 0; n < 64; ++n) {
            ramp[n] = float(n % 8) * 6 - 20;
            checks[n] = ((n % 8 + n / 8) % 2) ? 60.0f : -60.0f;
        }
        jpeg_encoder::forwardDct(ramp, c);
        QCOMPARE(quantizer.fineDetailWorth(c), 0.0);
        jpeg_encoder::forwardDct(checks, c);
        QVERIFY(quantizer.fineDetailWorth(c) > quantizer.emptyBlockCost());
    }
};

QTEST_GUILESS_MAIN(TestQuantizer)
#include "test_quantizer.moc"
