#include "doubles/jpeg_writer.h"

#include "core/runtime.h"
#include "platform/files/file_names.h"

#include <fcntl.h>

namespace platform
{

WriteResult FakeJpegWriter::write(const QImage &picture, const QString &path, int32_t quality,
                                  OldFile old)
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
