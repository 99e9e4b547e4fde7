#pragma once
// How the encoder fuzzer reads its input, shared with the replay of the
// inputs it found: a surface of at most 512 x 512 pixels, asked-for sizes
// around it (also zero, negative and far too large), a quality byte.
#include "platform/libjpeg_encoder.h"

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
    const int surfaceW = 1 + u16(0) % 512, surfaceH = 1 + u16(2) % 512;
    const int32_t width = int32_t(int16_t(u16(4))) * (data[8] & 0x80 ? 100 : 1);
    const int32_t height = int32_t(int16_t(u16(6))) * (data[8] & 0x40 ? 100 : 1);
    const uint8_t quality = data[9];
    QImage surface(surfaceW, surfaceH, QImage::Format_RGB32);
    const size_t bytes = size_t(surface.sizeInBytes());
    uchar *bits = surface.bits();
    for (size_t i = 0, n = size - 10; i < bytes; ++i)
        bits[i] = n ? data[10 + i % n] : 0;
    QByteArray name("/dev/shm/mipo-fuzz-encoder.jpg");
    platform::LibjpegEncoder encoder;
    const int16_t result = encoder.DCSavetoJPEG(&surface, width, height, name.data(), quality, 0);
    // Written exactly when the asked-for part lies on the surface.
    const bool fits = width > 0 && height > 0 && width <= surfaceW && height <= surfaceH;
    return (result == 0) == fits;
}
} // namespace fuzz
