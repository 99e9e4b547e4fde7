#include "jpeg_encoder/coefficients.h"

#include "jpeg_encoder/colour.h"
#include "jpeg_encoder/parallel.h"
#include "jpeg_encoder/sampling.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace jpeg_encoder
{

WriteResult Coefficients::make(const QImage &picture, int32_t quality,
                               const std::atomic_bool *abandoned)
{
    if (const WriteResult r = allocate(picture, quality); r != WriteResult::Written)
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

WriteResult Coefficients::allocate(const QImage &picture, int32_t quality)
{
    reportErrorsTo(holder_, err_);
    if (setjmp(err_.jump))
        return err_.result;
    jpeg_create_compress(&holder_);
    // All blocks in memory, whatever JPEGMEM says: there is no backing store.
    holder_.mem->max_memory_to_use = 0;
    describe(holder_, picture, quality, false);
    const JQUANT_TBL *lumaTable = holder_.quant_tbl_ptrs[0];
    double logSum = 0;
    for (int i = 1; i < 64; ++i)
        logSum += std::log(double(std::max<UINT16>(lumaTable->quantval[i], 1)));
    const auto typicalStep = float(std::exp(logSum / 63));
    colourWhole_ = keepsColourWhole(picture, BlockQuantizer(settingsFor(holder_, 1, typicalStep)));
    if (colourWhole_)
        describe(holder_, picture, quality, true);
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
        c.quantizer.emplace(settingsFor(holder_, ci, typicalStep));
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
        for (int x = 0; x < paddedWidth_; ++x) {
            const YCbCr c = toYCbCr(p + 4 * ptrdiff_t(std::min(x, width - 1)));
            luma[at + size_t(x)] = c.y;
            cb[at + size_t(x)] = c.cb;
            cr[at + size_t(x)] = c.cr;
        }
    }
    Block samples, coefficients;
    QuantizedBlock values;
    for (int ci = 0; ci < 3; ++ci) {
        const Component &c = components_[ci];
        const float *plane = scratch.planes[ci].data();
        // How many full-resolution samples one sample of this component spans.
        const int sx = components_[0].h / c.h, sy = components_[0].v / c.v;
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
                gather(plane, bx, by, sx, sy, samples);
                if (ci == 0) {
                    // Only pure white (255, 255, 255) and pure black come this near the limits.
                    uint64_t white = 0, black = 0;
                    for (size_t n = 0; n < 64; ++n) {
                        white |= uint64_t(samples[n] > 126.9f) << n;
                        black |= uint64_t(samples[n] < -127.9f) << n;
                    }
                    c.quantizer->letClippedOvershoot(samples, white, black);
                }
                forwardDct(samples, coefficients);
                c.quantizer->quantize(coefficients, values);
                dc_[ci][size_t(blockRow) * size_t(c.arrayWidth) + size_t(bx)] = coefficients[0];
                std::copy(values.begin(), values.end(), out);
            }
        }
    }
}

void Coefficients::chooseDc()
{
    std::vector<float> sequence;
    std::vector<int16_t> values;
    for (int ci = 0; ci < 3; ++ci) {
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
        sequence.clear();
        inOrder([&](int row, int column) {
            sequence.push_back(dc_[ci][size_t(row) * size_t(c.arrayWidth) + size_t(column)]);
        });
        c.quantizer->chooseDc(sequence, c.dcBits, values);
        size_t i = 0;
        inOrder([&](int row, int column) { rows_[ci][row][column][0] = values[i++]; });
    }
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

void Coefficients::gather(const float *plane, int bx, int by, int sx, int sy, Block &samples) const
{
    const auto width = size_t(paddedWidth_);
    if (sx == 1 && sy == 1) {
        for (int i = 0; i < 8; ++i) {
            const float *from = plane + size_t(by * 8 + i) * width + size_t(bx * 8);
            std::copy(from, from + 8, samples.begin() + ptrdiff_t(i) * 8);
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
