#include "platform/file_stamp.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace platform
{
std::optional<FileStamp> stampOf(const QString &path)
{
    struct stat st {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                     int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool WrittenFiles::contains(const QString &path) const
{
    const auto found = stamps_.constFind(QFileInfo(path).absoluteFilePath());
    return found != stamps_.constEnd() && stampOf(path) == *found;
}

void WrittenFiles::record(const QString &path)
{
    if (const std::optional<FileStamp> now = stampOf(path))
        stamps_.insert(QFileInfo(path).absoluteFilePath(), *now);
}
} // namespace platform
