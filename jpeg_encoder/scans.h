#pragma once
// The files written from the coefficients: libjpeg's entropy coders, into memory.

#include "jpeg_encoder/coefficients.h"
#include "jpeg_encoder/markers.h"

#include <QImage>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace jpeg_encoder
{

// Encoded bytes in memory this program owns from the first byte on, so that
// whatever fails, they are freed once, here.
struct Encoded {
    unsigned char *bytes = nullptr;
    size_t size = 0, capacity = 0;
    Encoded() = default;
    Encoded(const Encoded &) = delete;
    Encoded &operator=(const Encoded &) = delete;
    Encoded &operator=(Encoded &&o) noexcept
    {
        std::swap(bytes, o.bytes);
        std::swap(size, o.size);
        std::swap(capacity, o.capacity);
        return *this;
    }
    ~Encoded() { std::free(bytes); }
};

// One file from the coefficients: baseline with optimised tables, or
// progressive scans, with the markers after its header.
WriteResult writeScans(Coefficients &coefficients, const QImage &picture, int32_t quality,
                       const Markers &markers, bool progressive, const std::atomic_bool *abandoned,
                       Encoded &out);

} // namespace jpeg_encoder
