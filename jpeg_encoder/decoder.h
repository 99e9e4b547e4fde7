#pragma once
// Reading back the writer's files on libjpeg(-turbo), with the library's
// defaults as any viewer uses them: what the compare view shows is what the
// file will look like elsewhere.

#include "core/services.h"

namespace jpeg_encoder
{

class LibjpegDecoder : public platform::JpegDecoder
{
public:
    QImage decode(const QByteArray &file, const std::atomic_bool *abandoned = nullptr) override;
};

} // namespace jpeg_encoder
