#pragma once
// The JPEG-decoder double: Qt's own reader.

#include "core/services.h"

#include <atomic>

namespace platform
{

// Reads what Qt's own JPEG reader reads.
class FakeJpegDecoder : public JpegDecoder
{
public:
    QImage decode(const QByteArray &file, const std::atomic_bool * = nullptr) override
    {
        ++decodes;
        return QImage::fromData(file, "JPEG").convertToFormat(QImage::Format_RGB888);
    }
    std::atomic_int decodes{0};
};

} // namespace platform
