#pragma once
// The desktop's trash in the freedesktop.org layout (files/ and info/): the
// home trash for files on the home's file system, else the trash at the top
// of the file's own file system.

#include "platform/services.h"

#include <QHash>

namespace platform
{

class FreedesktopTrash : public Trash
{
public:
    bool keepCopy(const QString &path) override;
    void takeBack(const QString &path) override;

    // The home trash: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
    static QString homeTrash();

private:
    struct Entry {
        QString info, kept;
    };
    QHash<QString, Entry> last_; // by the path as given
};

} // namespace platform
