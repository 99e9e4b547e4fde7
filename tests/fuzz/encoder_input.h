#pragma once
// How the encoder fuzzer reads its input, shared with the replay of the
// inputs it found: a picture of at most 512 x 512 pixels in one of Qt's
// formats, a quality anywhere in 32 bits.
#include "jpeg_encoder/writer.h"

#include <QByteArray>
#include <QImage>

namespace fuzz
{
// Runs one input; false when the encoder broke its contract.
inline bool runEncoder(const uint8_t *data, size_t size)
{
    if (size < 10)
        return true;
    auto u16 = [&](int i) { return int(data[i] | (data[i + 1] << 8)); };
    const int width = 1 + u16(0) % 512, height = 1 + u16(2) % 512;
    const int32_t quality = int32_t(uint32_t(u16(4)) | (uint32_t(u16(6)) << 16));
    // Mostly the 32-bit surfaces Save hands over, sometimes a format it never does.
    const QImage::Format format = data[8] < 200   ? QImage::Format_RGB32
                                  : data[8] < 230 ? QImage::Format_ARGB32
                                                  : QImage::Format_RGB888;
    QImage picture(width, height, format);
    const size_t bytes = size_t(picture.sizeInBytes());
    uchar *bits = picture.bits();
    for (size_t i = 0, n = size - 10; i < bytes; ++i)
        bits[i] = n ? data[10 + i % n] : 0;
    jpeg_encoder::LibjpegWriter writer;
    const platform::WriteResult result =
        writer.write(picture, QStringLiteral("/dev/shm/mipo-fuzz-encoder.jpg"), quality);
    // Written exactly when the picture is a 32-bit surface.
    return (result == platform::WriteResult::Written) == (format != QImage::Format_RGB888);
}
} // namespace fuzz
