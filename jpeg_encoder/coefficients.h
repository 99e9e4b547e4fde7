#pragma once
// The picture's quantised coefficients: colour transform, sampling, DCT and
// the quantiser's choice, block by block on two workers.

#include "jpeg_encoder/libjpeg_glue.h"
#include "jpeg_encoder/quantizer.h"

#include <QImage>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace jpeg_encoder
{

// The picture's quantised coefficients, in libjpeg's own block arrays held by
// a compress object that writes nothing; the two writers read them at once.
class Coefficients
{
public:
    Coefficients() = default;
    Coefficients(const Coefficients &) = delete;
    Coefficients &operator=(const Coefficients &) = delete;
    // Also after a creation that ran out of memory half-way.
    ~Coefficients() { jpeg_destroy_compress(&holder_); }

    // How the colour's resolution is chosen: by colourDetailWorth, or as given.
    enum class Sampling { Estimated, Whole, Halved };
    WriteResult make(const QImage &picture, int32_t quality, const std::atomic_bool *abandoned,
                     Sampling sampling = Sampling::Estimated);

    jvirt_barray_ptr *arrays() { return arrays_; }
    // Whether the colour components are at full resolution.
    bool colourWhole() const { return colourWhole_; }
    // colourDetailWorth's answer, where the sampling was estimated.
    double colourWorth() const { return colourWorth_; }
    // The luma quantiser's typical step (the geometric mean of its AC steps)
    // under the settings the choice of sampling weighs with.
    float samplingStep() const { return samplingStep_; }
    // The tables' and weights' setting for the quality, which the writers
    // describe the file with.
    const Tuning &tuning() const { return tuning_; }
    // How many AC values are not zero: about how large the file will be.
    int64_t nonZero() const { return nonZero_.load(); }

private:
    // One MCU row of the picture as floating-point Y, Cb and Cr at full
    // resolution, edges repeated as far as the blocks reach.
    struct Scratch {
        std::vector<float> planes[3];
        std::vector<float> errorScales, activity, columnLeast; // per luma block of the row
        std::vector<float> rowRight, rowColumns;               // per luma sample of a row
        // The colour planes at half resolution both ways, when halved.
        std::vector<float> halves[2], halvingScratch;
        Scratch(int width, int height)
        {
            for (auto &p : planes)
                p.resize(size_t(width) * size_t(height));
        }
    };

    struct Component {
        int widthInBlocks = 0, heightInBlocks = 0, arrayWidth = 0, h = 1, v = 1;
        std::optional<BlockQuantizer> quantizer;
        std::array<uint8_t, 12> dcBits{};
    };

    // The part that may fail inside libjpeg: the arrays and the tables.
    WriteResult allocate(const QImage &picture, int32_t quality, Sampling sampling);
    void transformRow(const QImage &picture, int row, Scratch &scratch);
    // The DC values of each component as a sequence in the order they are
    // coded, MCU by MCU, each predicted from the one before.
    void chooseDc();
    static void adviseLargePages(JBLOCKARRAY rows, int rowCount, int blocksPerRow);
    // One block of a component from the full-resolution plane: each sample
    // the mean of the sx by sy it stands for.
    void gather(const float *plane, int planeWidth, int bx, int by, int sx, int sy,
                Block &samples) const;

    jpeg_compress_struct holder_{};
    ErrorManager err_{};
    std::vector<float> dc_[3];
    jvirt_barray_ptr arrays_[3]{};
    JBLOCKARRAY rows_[3]{};
    Component components_[3];
    int mcuHeight_ = 8, mcuRows_ = 0, paddedWidth_ = 0;
    bool colourWhole_ = false;
    double colourWorth_ = 0;
    float typicalStep_ = 1, samplingStep_ = 1;
    Tuning tuning_{};
    std::atomic<int64_t> nonZero_{0};
};

} // namespace jpeg_encoder
