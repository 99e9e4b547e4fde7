#pragma once
// What tells one state of a file from another: the file itself (device and
// inode), its content's size and time of change, and the time anything about
// it last changed, which no one can set back.

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

namespace platform
{
struct FileStamp {
    uint64_t device = 0, inode = 0;
    int64_t size = 0, changedNs = 0, statusChangedNs = 0;
    bool operator==(const FileStamp &) const = default;
};

// The stamp of what the path names now (links followed); none when nothing is there.
std::optional<FileStamp> stampOf(const QString &path);

// Files a run wrote, as it left them, and the picture each holds: a file
// changed or replaced by anyone since is no longer one of them.
class WrittenFiles
{
public:
    // Whether the file is as this run wrote it from that picture.
    bool contains(const QString &path, qint64 picture) const;
    void record(const QString &path, qint64 picture);

private:
    struct Written {
        FileStamp stamp;
        qint64 picture = 0;
    };
    QHash<QString, Written> written_; // by absolute path
};
} // namespace platform
