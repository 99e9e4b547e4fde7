#include "jpeg_encoder/coefficients.h"

#include "jpeg_encoder/colour.h"
#include "jpeg_encoder/parallel.h"
#include "jpeg_encoder/sampling.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>

namespace jpeg_encoder
{

namespace
{

// A colour plane halved both ways so that the decoder's smooth upsampling
// (each output sample 9:3:3:1 of its nearest four) comes back close to the
// full plane, not just its 2x2 means: a plain mean blurs a coloured edge
// twice, once here and once in the decoder. Each round adds back the mean
// error of what the decoder would make. Like the decoder, it repeats the
// last half sample of the picture (seen, the rest is padding) at its right
// and bottom edges. Rows beyond the MCU row repeat its edge too; the decoder
// sees the neighbouring row instead, a small difference.
// The four samples the decoder makes from one half sample add up to that
// sample's neighbourhood weighed 1:6:1 each way (times 4/64), so the mean
// error of a cell needs two passes over the half plane, not the full one.
// scratch: twice the half plane.
void halveForDecoder(const float *full, int width, int height, int seenWidth, int seenHeight,
                     float *half, float *scratch, int rounds)
{
    const int w = width / 2, h = height / 2, lastX = (seenWidth + 1) / 2 - 1,
              lastY = (seenHeight + 1) / 2 - 1;
    const size_t cells = size_t(w) * size_t(h);
    float *mean = scratch, *across = scratch + cells;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float *a = full + size_t(2 * y) * size_t(width) + size_t(2 * x);
            mean[size_t(y) * size_t(w) + size_t(x)] = (a[0] + a[1] + a[width] + a[width + 1]) / 4;
        }
    std::copy(mean, mean + cells, half);
    // The neighbour after i: the next one up to the last seen, then i itself.
    const auto after = [](int i, int last) { return i < last ? i + 1 : i; };
    for (int round = 0; round < rounds; ++round) {
        // The edges apart, so that the inner loop has no tests and vectorises.
        const int inner = std::clamp(lastX, 1, w);
        for (int y = 0; y < h; ++y) {
            const float *in = half + size_t(y) * size_t(w);
            float *out = across + size_t(y) * size_t(w);
            out[0] = in[0] + 6 * in[0] + in[after(0, lastX)];
            for (int x = 1; x < inner; ++x)
                out[x] = in[x - 1] + 6 * in[x] + in[x + 1];
            for (int x = inner; x < w; ++x)
                out[x] = in[x - 1] + 6 * in[x] + in[x];
        }
        for (int y = 0; y < h; ++y) {
            const float *above = across + size_t(std::max(y - 1, 0)) * size_t(w),
                        *row = across + size_t(y) * size_t(w),
                        *below = across + size_t(after(y, lastY)) * size_t(w),
                        *target = mean + size_t(y) * size_t(w);
            float *v = half + size_t(y) * size_t(w);
            for (int x = 0; x < w; ++x) {
                const float decoded = (above[x] + 6 * row[x] + below[x]) / 64;
                v[x] = std::clamp(v[x] + (target[x] - decoded), -128.0f, 127.0f);
            }
        }
    }
}

} // namespace

WriteResult Coefficients::make(const QImage &picture, int32_t quality,
                               const std::atomic_bool *abandoned, Sampling sampling)
{
    if (const WriteResult r = allocate(picture, quality, sampling); r != WriteResult::Written)
        return r;
    // Rows of MCUs go to whichever of two workers is free.
    std::atomic_int next{0};
    std::atomic<WriteResult> result{WriteResult::Written};
    const auto work = [&] {
        try {
            Scratch scratch(paddedWidth_, mcuHeight_);
            for (int row = next++; row < mcuRows_; row = next++) {
                if (result.load() != WriteResult::Written)
                    return; // the other worker has failed
                if (abandoned && abandoned->load(std::memory_order_relaxed)) {
                    WriteResult expected = WriteResult::Written;
                    result.compare_exchange_strong(expected, Abandoned);
                    return;
                }
                transformRow(picture, row, scratch);
            }
        } catch (const std::bad_alloc &) {
            result = WriteResult::OutOfMemory;
        }
    };
    inParallel(work, work);
    if (result.load() == WriteResult::Written)
        chooseDc();
    return result.load();
}

WriteResult Coefficients::allocate(const QImage &picture, int32_t quality, Sampling sampling)
{
    reportErrorsTo(holder_, err_);
    if (setjmp(err_.jump))
        return err_.result;
    jpeg_create_compress(&holder_);
    // All blocks in memory, whatever JPEGMEM says: there is no backing store.
    holder_.mem->max_memory_to_use = 0;
    const auto typicalLumaStep = [this] {
        const JQUANT_TBL *lumaTable = holder_.quant_tbl_ptrs[0];
        double logSum = 0;
        for (int i = 1; i < 64; ++i)
            logSum += std::log(double(std::max<UINT16>(lumaTable->quantval[i], 1)));
        return float(std::exp(logSum / 63));
    };
    // The sampling is weighed with settings of its own: its thresholds were
    // set on coloured text and photos, and the tuning of the tables for
    // fewer bytes at each quality should not move them.
    describe(holder_, picture, quality, false, SamplingTuning);
    samplingStep_ = typicalLumaStep();
    if (sampling == Sampling::Estimated) {
        colourWorth_ = colourDetailWorth(
            picture, BlockQuantizer(settingsFor(holder_, 1, samplingStep_, SamplingTuning)),
            BlockQuantizer(settingsFor(holder_, 2, samplingStep_, SamplingTuning)));
        // At 100 the colour is whole wherever it has any detail to lose.
        colourWhole_ = colourWorth_ > (quality >= 100 ? 0 : 1);
    } else {
        colourWhole_ = sampling == Sampling::Whole;
    }
    tuning_ = tuningFor(quality);
    describe(holder_, picture, quality, colourWhole_, tuning_);
    typicalStep_ = typicalLumaStep();
    const int width = picture.width(), height = picture.height();
    const int maxH = holder_.comp_info[0].h_samp_factor, maxV = holder_.comp_info[0].v_samp_factor;
    mcuHeight_ = 8 * maxV;
    mcuRows_ = (height + mcuHeight_ - 1) / mcuHeight_;
    paddedWidth_ = (width + 8 * maxH - 1) / (8 * maxH) * (8 * maxH);

    for (int ci = 0; ci < 3; ++ci) {
        const jpeg_component_info &info = holder_.comp_info[ci];
        Component &c = components_[ci];
        c.h = info.h_samp_factor;
        c.v = info.v_samp_factor;
        c.widthInBlocks = (width * c.h + 8 * maxH - 1) / (8 * maxH);
        c.heightInBlocks = (height * c.v + 8 * maxV - 1) / (8 * maxV);
        c.arrayWidth = (c.widthInBlocks + c.h - 1) / c.h * c.h;
        const int arrayHeight = mcuRows_ * c.v;
        arrays_[ci] = holder_.mem->request_virt_barray(
            reinterpret_cast<j_common_ptr>(&holder_), JPOOL_IMAGE, FALSE, JDIMENSION(c.arrayWidth),
            JDIMENSION(arrayHeight), JDIMENSION(arrayHeight));
        c.quantizer.emplace(settingsFor(holder_, ci, typicalStep_, tuning_));
        const std::array<uint8_t, 256> dcLengths =
            BlockQuantizer::codeLengths(holder_.dc_huff_tbl_ptrs[info.dc_tbl_no]->bits,
                                        holder_.dc_huff_tbl_ptrs[info.dc_tbl_no]->huffval);
        std::copy(dcLengths.begin(), dcLengths.begin() + 12, c.dcBits.begin());
        dc_[ci].assign(size_t(c.arrayWidth) * size_t(arrayHeight), 0.0f);
    }
    holder_.mem->realize_virt_arrays(reinterpret_cast<j_common_ptr>(&holder_));
    // Every row at once, before the workers start: the arrays are filled
    // out of order, which row-by-row access would refuse.
    for (int ci = 0; ci < 3; ++ci) {
        const int rowCount = mcuRows_ * components_[ci].v;
        rows_[ci] = holder_.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&holder_),
                                                    arrays_[ci], 0, JDIMENSION(rowCount), TRUE);
        adviseLargePages(rows_[ci], rowCount, components_[ci].arrayWidth);
    }
    return WriteResult::Written;
}

void Coefficients::transformRow(const QImage &picture, int row, Scratch &scratch)
{
    const int width = picture.width(), height = picture.height();
    float *luma = scratch.planes[0].data(), *cb = scratch.planes[1].data(),
          *cr = scratch.planes[2].data();
    for (int y = 0; y < mcuHeight_; ++y) {
        const int sourceRow = std::min(row * mcuHeight_ + y, height - 1);
        const uchar *p = picture.constScanLine(sourceRow);
        const size_t at = size_t(y) * size_t(paddedWidth_);
        float *ly = luma + at, *lcb = cb + at, *lcr = cr + at;
        for (int x = 0; x < width; ++x) {
            const YCbCr c = toYCbCr(p + 4 * ptrdiff_t(x));
            ly[x] = c.y;
            lcb[x] = c.cb;
            lcr[x] = c.cr;
        }
        std::fill(ly + width, ly + paddedWidth_, ly[width - 1]);
        std::fill(lcb + width, lcb + paddedWidth_, lcb[width - 1]);
        std::fill(lcr + width, lcr + paddedWidth_, lcr[width - 1]);
    }
    // How much each luma block's errors count. Scored by butteraugli and
    // SSIMULACRA, lost texture shows more than the faint ripples left in
    // quiet blocks, against the usual masking argument: the busiest blocks
    // count up to twice, the quietest half, a difference that fades away
    // towards 90. A block beside a quiet one is judged as quiet, as its
    // errors show along the border.
    const int lumaColumns = components_[0].arrayWidth, lumaRows = components_[0].v;
    std::vector<float> &scales = scratch.errorScales;
    scales.assign(size_t(lumaColumns) * size_t(lumaRows), 1.0f);
    const float Strength = tuning_.busyWeight;
    constexpr float Softening = 2, Typical = 6;
    // Without any strength every scale is 1: nothing to measure.
    if (Strength != 0) {
        std::vector<float> &activity = scratch.activity;
        activity.assign(scales.size(), 0.0f);
        // Whole rows of samples at a time, in loops that vectorise: the
        // difference to the right (none for the last column of a block) and
        // to below (none for the last row), summed for each column of a block
        // over its rows, then the eight columns of each block pairwise.
        const int blocks = components_[0].widthInBlocks, samples = blocks * 8;
        std::vector<float> &right = scratch.rowRight, &columnSums = scratch.rowColumns;
        right.resize(size_t(samples));
        columnSums.resize(size_t(samples));
        for (int by = 0; by < lumaRows; ++by) {
            std::fill(columnSums.begin(), columnSums.end(), 0.0f);
            for (int i = 0; i < 8; ++i) {
                const float *line = luma + size_t(by * 8 + i) * size_t(paddedWidth_);
                const float *below = i < 7 ? line + paddedWidth_ : line;
                for (int x = 0; x + 1 < samples; ++x)
                    right[size_t(x)] = std::abs(line[x + 1] - line[x]);
                for (int x = 7; x < samples; x += 8)
                    right[size_t(x)] = 0;
                for (int x = 0; x < samples; ++x)
                    columnSums[size_t(x)] +=
                        std::sqrt(right[size_t(x)] + std::abs(below[x] - line[x]));
            }
            for (int bx = 0; bx < blocks; ++bx) {
                const float *c = columnSums.data() + size_t(bx) * 8;
                float spread = ((c[0] + c[1]) + (c[2] + c[3])) + ((c[4] + c[5]) + (c[6] + c[7]));
                spread /= 64;
                activity[size_t(by) * size_t(lumaColumns) + size_t(bx)] = spread * spread;
            }
        }
        // The least of each block's neighbourhood, rows first: the MCU row
        // has at most two rows of luma blocks.
        const int columns = components_[0].widthInBlocks;
        std::vector<float> &column = scratch.columnLeast;
        column.resize(size_t(columns));
        for (int bx = 0; bx < columns; ++bx) {
            column[size_t(bx)] = activity[size_t(bx)];
            for (int by = 1; by < lumaRows; ++by)
                column[size_t(bx)] = std::min(
                    column[size_t(bx)], activity[size_t(by) * size_t(lumaColumns) + size_t(bx)]);
        }
        for (int bx = 0; bx < columns; ++bx) {
            float least = column[size_t(bx)];
            if (bx > 0)
                least = std::min(least, column[size_t(bx) - 1]);
            if (bx + 1 < columns)
                least = std::min(least, column[size_t(bx) + 1]);
            const float scale = std::clamp(
                std::pow((least + Softening) / (Typical + Softening), Strength), 0.5f, 2.0f);
            for (int by = 0; by < lumaRows; ++by)
                scales[size_t(by) * size_t(lumaColumns) + size_t(bx)] = scale;
        }
    }
    Block samples, coefficients;
    QuantizedBlock values;
    int64_t nonZero = 0;
    for (int ci = 0; ci < 3; ++ci) {
        const Component &c = components_[ci];
        const float *plane = scratch.planes[ci].data();
        // How many full-resolution samples one sample of this component spans.
        const int sx = components_[0].h / c.h, sy = components_[0].v / c.v;
        // What the blocks are gathered from: the full plane, or one halved already.
        int gx = sx, gy = sy, planeWidth = paddedWidth_;
        if (ci > 0 && sx == 2 && sy == 2) {
            std::vector<float> &half = scratch.halves[ci - 1];
            half.resize(scratch.planes[ci].size() / 4);
            scratch.halvingScratch.resize(scratch.planes[ci].size() / 2);
            halveForDecoder(plane, paddedWidth_, mcuHeight_, width,
                            std::min(mcuHeight_, height - row * mcuHeight_), half.data(),
                            scratch.halvingScratch.data(), 2);
            plane = half.data();
            gx = gy = 1;
            planeWidth = paddedWidth_ / 2;
        }
        for (int by = 0; by < c.v; ++by) {
            const int blockRow = row * c.v + by;
            JBLOCKROW blocks = rows_[ci][blockRow];
            for (int bx = 0; bx < c.arrayWidth; ++bx) {
                JCOEF *out = blocks[bx];
                if (bx >= c.widthInBlocks || blockRow >= c.heightInBlocks) {
                    // Outside the picture: the writers make these blocks themselves.
                    std::fill(out, out + DCTSIZE2, JCOEF(0));
                    continue;
                }
                gather(plane, planeWidth, bx, by, gx, gy, samples);
                if (ci == 0) {
                    // Only pure white (255, 255, 255) and pure black come this
                    // near the limits; most blocks have neither.
                    int nearLimit = 0;
                    for (const float v : samples)
                        nearLimit |= int(v > 126.9f) | int(v < -127.9f);
                    if (nearLimit) {
                        uint64_t white = 0, black = 0;
                        for (size_t n = 0; n < 64; ++n) {
                            white |= uint64_t(samples[n] > 126.9f) << n;
                            black |= uint64_t(samples[n] < -127.9f) << n;
                        }
                        c.quantizer->letClippedOvershoot(samples, white, black);
                    }
                }
                // The mean of the luma blocks' scales this block covers.
                float scale = 0;
                for (int y = 0; y < sy; ++y)
                    for (int x = 0; x < sx; ++x)
                        scale += scales[size_t(by * sy + y) * size_t(lumaColumns) +
                                        size_t(std::min(bx * sx + x, lumaColumns - 1))];
                scale /= float(sx * sy);
                forwardDct(samples, coefficients);
                c.quantizer->quantize(coefficients, values, scale);
                dc_[ci][size_t(blockRow) * size_t(c.arrayWidth) + size_t(bx)] = coefficients[0];
                // A fixed size: copied inline, not through a call.
                static_assert(sizeof(JCOEF) == sizeof(values[0]));
                std::memcpy(out, values.data(), sizeof values);
                for (size_t n = 1; n < 64; ++n)
                    nonZero += values[n] != 0;
            }
        }
    }
    nonZero_ += nonZero;
}

void Coefficients::chooseDc()
{
    const auto choose = [this](int ci) {
        const Component &c = components_[ci];
        const int mcusPerRow = c.arrayWidth / c.h;
        const auto inOrder = [&](const auto &visit) {
            for (int mcuRow = 0; mcuRow < mcuRows_; ++mcuRow)
                for (int mcu = 0; mcu < mcusPerRow; ++mcu)
                    for (int y = 0; y < c.v; ++y)
                        for (int x = 0; x < c.h; ++x) {
                            const int row = mcuRow * c.v + y, column = mcu * c.h + x;
                            if (row < c.heightInBlocks && column < c.widthInBlocks)
                                visit(row, column);
                        }
        };
        std::vector<float> sequence;
        std::vector<int16_t> values;
        sequence.reserve(size_t(c.widthInBlocks) * size_t(c.heightInBlocks));
        inOrder([&](int row, int column) {
            sequence.push_back(dc_[ci][size_t(row) * size_t(c.arrayWidth) + size_t(column)]);
        });
        c.quantizer->chooseDc(sequence, c.dcBits, values);
        size_t i = 0;
        inOrder([&](int row, int column) { rows_[ci][row][column][0] = values[i++]; });
    };
    // Each component's sequence is its own: luma on one worker, colour on the
    // other. Short of memory on either, the encoding fails as a whole.
    std::atomic_bool shortOfMemory{false};
    const auto guarded = [&](std::initializer_list<int> components) {
        try {
            for (const int ci : components)
                choose(ci);
        } catch (const std::bad_alloc &) {
            shortOfMemory = true;
        }
    };
    inParallel([&] { guarded({0}); }, [&] { guarded({1, 2}); });
    if (shortOfMemory)
        throw std::bad_alloc();
}

// The blocks are written once each, into memory not touched yet: large
// pages save a page fault for every 4 KB, a fifth of the time a 24 MP
// photo takes on a virtual machine. Only where the rows lie one after
// the other, as libjpeg allocates them.
void Coefficients::adviseLargePages(JBLOCKARRAY rows, int rowCount, int blocksPerRow)
{
    if (rowCount < 1)
        return;
    const auto rowBytes = uintptr_t(blocksPerRow) * sizeof(JBLOCK);
    for (int i = 1; i < rowCount; ++i)
        if (reinterpret_cast<uintptr_t>(rows[i]) !=
            reinterpret_cast<uintptr_t>(rows[i - 1]) + rowBytes)
            return;
    constexpr uintptr_t Large = 2 << 20;
    const uintptr_t first = reinterpret_cast<uintptr_t>(rows[0]),
                    end = first + rowBytes * uintptr_t(rowCount);
    const uintptr_t from = (first + Large - 1) & ~(Large - 1), to = end & ~(Large - 1);
    if (to > from)
        madvise(reinterpret_cast<char *>(rows[0]) + (from - first), to - from, MADV_HUGEPAGE);
}

void Coefficients::gather(const float *plane, int planeWidth, int bx, int by, int sx, int sy,
                          Block &samples) const
{
    const auto width = size_t(planeWidth);
    if (sx == 1 && sy == 1) {
        for (int i = 0; i < 8; ++i) {
            const float *from = plane + size_t(by * 8 + i) * width + size_t(bx * 8);
            std::memcpy(samples.data() + ptrdiff_t(i) * 8, from, 8 * sizeof(float));
        }
    } else if (sx == 2 && sy == 2) {
        for (int i = 0; i < 8; ++i) {
            const float *from = plane + size_t(by * 8 + i) * 2 * width + size_t(bx * 16);
            for (size_t j = 0; j < 8; ++j) {
                const float *a = from + 2 * j;
                samples[size_t(i * 8) + j] = (((a[0] + a[1]) + a[width]) + a[width + 1]) / 4;
            }
        }
    } else {
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 8; ++j) {
                const int y0 = (by * 8 + i) * sy, x0 = (bx * 8 + j) * sx;
                float sum = 0;
                for (int dy = 0; dy < sy; ++dy)
                    for (int dx = 0; dx < sx; ++dx)
                        sum += plane[size_t(y0 + dy) * width + size_t(x0 + dx)];
                samples[size_t(i) * 8 + size_t(j)] = sum / float(sx * sy);
            }
    }
}

} // namespace jpeg_encoder
