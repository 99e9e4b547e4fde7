#pragma once
// The JPEG-writer double: records what it is asked to write.

#include "core/runtime.h"
#include "core/services.h"
#include "platform/files/file_names.h"

#include <QList>
#include <mutex>

#include <fcntl.h>

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

inline WriteResult FakeJpegWriter::write(const QImage &picture, const QString &path,
                                         int32_t quality, OldFile old)
{
    const FileInFolder file{AT_FDCWD, nameBytes(path), path};
    const bool kept = old.keepIn && kindOf(path).regular && old.keepIn->keepCopy(file);
    if (old.keepIn && kindOf(path).regular && !kept && !old.mayLose)
        return WriteResult::NotKept;
    {
        const std::lock_guard hold(lock);
        calls.append({picture, path, quality});
    }
    if (kept && result != WriteResult::Written)
        old.keepIn->takeBack(file);
    return result;
}

} // namespace platform
