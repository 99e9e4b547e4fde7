#pragma once
// File names as the system spells them, kept whole in a QString: bytes that
// are no UTF-8 travel as lone surrogates (U+DC80 to U+DCFF, one a byte) and
// come back as the very bytes they were. Qt's own conversion would turn them
// into U+FFFD and name another file.

#include <QByteArray>
#include <QString>

namespace platform
{
QByteArray nameBytes(const QString &name);
QString nameOf(const QByteArray &bytes);

// What the name is now, links followed; false when nothing is there.
struct FileKind {
    bool exists = false, regular = false, folder = false;
    qint64 size = 0;
};
FileKind kindOf(const QString &name);

// Whether the folder's file system takes names that differ only in case for
// one name (FAT, for one), found by trying it there; false when unknown.
bool folderIgnoresCase(const QString &folder);
} // namespace platform
