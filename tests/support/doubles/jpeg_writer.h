#pragma once
// The JPEG-writer double: records what it is asked to write.

#include "core/services.h"

#include <QList>
#include <mutex>

namespace platform
{

// Remembers what it was asked to write (the picture shared, not copied) and answers
// with the result set.
class FakeJpegWriter : public JpegWriter
{
public:
    struct Call {
        QImage picture;
        QString path;
        int32_t quality;
    };
    // A file at the path goes to old's trash first, as the real writer sends it.
    WriteResult write(const QImage &picture, const QString &path, int32_t quality,
                      OldFile old = {}) override;
    WriteResult writeBeside(const QImage &picture, const QString &path, int32_t quality,
                            OldFile old = {}) override
    {
        return write(picture, path, quality, old);
    }
    // Bytes whose count tells picture and quality apart; no JPEG.
    QByteArray encoded(const QImage &picture, int32_t quality,
                       const std::atomic_bool * = nullptr) override
    {
        return picture.isNull()
                   ? QByteArray()
                   : QByteArray(qsizetype(picture.width()) * picture.height() + quality, '\0');
    }

    QList<Call> calls; // in the order written, from whichever thread
    WriteResult result = WriteResult::Written;
    std::mutex lock;
};

} // namespace platform
