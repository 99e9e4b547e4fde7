#include "jpeg_encoder/sampling.h"

#include "jpeg_encoder/colour.h"
#include "jpeg_encoder/parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace jpeg_encoder
{

double colourDetailWorth(const QImage &picture, const BlockQuantizer &cb, const BlockQuantizer &cr)
{
    const int width = picture.width(), height = picture.height();
    const int columns = (width + 7) / 8, rows = (height + 7) / 8;
    // Every block in small pictures, where a logo or a chart may have few
    // coloured edges; one in eight from about a quarter of a megapixel up:
    // four thousand blocks spread evenly tell the picture's kind.
    const int every = std::clamp(int(int64_t(columns) * rows / 4096), 1, 8);
    // Below this much detail energy in a block no fine coefficient reaches
    // half of the finest step.
    const float finest = std::min(cb.finestFineStep(), cr.finestFineStep()),
                quiet = 0.25f * finest * finest;
    std::atomic_int next{0};
    double worth[2] = {0, 0};
    int64_t looked[2] = {0, 0};
    const auto work = [&](double &sum, int64_t &blocks) {
        Block planes[2], coefficients;
        for (int row = next++; row < rows; row = next++)
            for (int column = row * 3 % every; column < columns; column += every) {
                ++blocks;
                float detail = 0;
                for (int i = 0; i < 8; ++i) {
                    const uchar *line = picture.constScanLine(std::min(row * 8 + i, height - 1));
                    for (int j = 0; j < 8; ++j) {
                        const YCbCr c =
                            toYCbCr(line + 4 * ptrdiff_t(std::min(column * 8 + j, width - 1)));
                        planes[0][size_t(i) * 8 + size_t(j)] = c.cb;
                        planes[1][size_t(i) * 8 + size_t(j)] = c.cr;
                    }
                }
                for (const Block &p : planes)
                    for (size_t i = 0; i < 8; i += 2)
                        for (size_t j = 0; j < 8; j += 2) {
                            const size_t at = i * 8 + j;
                            const float m = (p[at] + p[at + 1] + p[at + 8] + p[at + 9]) / 4;
                            for (const size_t d : {0, 1, 8, 9})
                                detail += (p[at + d] - m) * (p[at + d] - m);
                        }
                if (detail < quiet)
                    continue;
                forwardDct(planes[0], coefficients);
                sum += cb.fineDetailWorth(coefficients);
                forwardDct(planes[1], coefficients);
                sum += cr.fineDetailWorth(coefficients);
            }
    };
    inParallel([&] { work(worth[0], looked[0]); }, [&] { work(worth[1], looked[1]); });
    // Each block looked at stands for three quarters of a block more in each
    // colour component. The detail must pay for more than half of them: on
    // the benchmark's pictures that keeps photos halved up to 90 and text in
    // colour whole from about 75.
    constexpr double Share = 0.6;
    const double moreBlocks = 1.5 * double(looked[0] + looked[1]);
    return (worth[0] + worth[1]) / (Share * moreBlocks * cb.emptyBlockCost());
}

} // namespace jpeg_encoder
