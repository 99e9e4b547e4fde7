#pragma once
// The JPEG writer on libjpeg(-turbo), reading the picture's 32-bit rows as
// they are: coefficients chosen here, the smaller of a baseline and a
// progressive file, written by safe replacement.

#include "core/services.h"

#include <memory>

namespace jpeg_encoder
{

class LibjpegWriter : public platform::JpegWriter
{
public:
    LibjpegWriter();
    ~LibjpegWriter() override;

    platform::WriteResult write(const QImage &picture, const QString &path, int32_t quality,
                                platform::OldFile old = {}) override;
    platform::WriteResult writeBeside(const QImage &picture, const QString &path, int32_t quality,
                                      platform::OldFile old = {}) override;
    QByteArray encoded(const QImage &picture, int32_t quality,
                       const std::atomic_bool *abandoned = nullptr) override;

    // JPEG's own limit on either side.
    static constexpr int32_t MaxSide = 65500;

private:
    // The last size read-out's file: a save of the same picture at the same
    // quality writes it as it is instead of encoding again.
    struct Remembered;
    std::unique_ptr<Remembered> remembered_;

    // With takeTurn, one encoding at a time in the program, and the
    // remembered file used when it fits.
    platform::WriteResult writeFile(const QImage &picture, const QString &path, int32_t quality,
                                    const platform::OldFile &old, bool takeTurn);
};

} // namespace jpeg_encoder
