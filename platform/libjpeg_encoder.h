#pragma once
// The JPEG writer on libjpeg(-turbo), reading the picture's 32-bit rows as
// they are. A file that exists is replaced only once the new one is complete.

#include "platform/services.h"

namespace platform
{

class LibjpegWriter : public JpegWriter
{
public:
    int16_t write(const QImage &picture, const QString &path, int32_t quality) override;
    qint64 encodedSize(const QImage &picture, int32_t quality) override;

    // JPEG's own limit on either side.
    static constexpr int32_t MaxSide = 65500;
};

} // namespace platform
