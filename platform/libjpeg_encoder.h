#pragma once
// The JPEG encoder on libjpeg(-turbo), reading the surface's 32-bit rows as
// they are. A file that exists is replaced only once the new one is complete.

#include "platform/services.h"

namespace platform
{

class LibjpegEncoder : public JpegEncoder
{
public:
    int16_t DCSavetoJPEG(const QImage *hdc, int32_t width, int32_t height, char *fileName,
                         uint8_t quality, int32_t reserved) override;

    // JPEG's own limit on either side.
    static constexpr int32_t MaxSide = 65500;
};

} // namespace platform
