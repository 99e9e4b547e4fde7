#pragma once
// What tells one state of a file from another: the file itself (device and
// inode) and its content's size and time of change.

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

namespace platform
{
struct FileStamp {
    uint64_t device = 0, inode = 0;
    int64_t size = 0, changedNs = 0;
    bool operator==(const FileStamp &) const = default;
};

// The stamp of what the path names now (links followed); none when nothing is there.
std::optional<FileStamp> stampOf(const QString &path);

// Files a run wrote, as it left them: a file changed or replaced by anyone
// since is no longer one of them.
class WrittenFiles
{
public:
    bool contains(const QString &path) const;
    void record(const QString &path);

private:
    QHash<QString, FileStamp> stamps_; // by absolute path
};
} // namespace platform
