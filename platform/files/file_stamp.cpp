#include "platform/files/file_stamp.h"

#include "platform/files/file_names.h"

#include <QFileInfo>

#include <sys/stat.h>

namespace platform
{
std::optional<FileStamp> stampOf(const QString &path)
{
    struct stat st {
    };
    if (path.isEmpty() || ::stat(nameBytes(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                     int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                     int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

bool WrittenFiles::contains(const QString &path, qint64 picture) const
{
    const auto found = written_.constFind(QFileInfo(path).absoluteFilePath());
    return found != written_.constEnd() && found->picture == picture &&
           stampOf(path) == found->stamp;
}

void WrittenFiles::record(const QString &path, qint64 picture)
{
    if (const std::optional<FileStamp> now = stampOf(path))
        written_.insert(QFileInfo(path).absoluteFilePath(), {*now, picture});
}
} // namespace platform
