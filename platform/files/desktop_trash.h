#pragma once
// The desktop's trash in the freedesktop.org layout (files/ and info/): the
// home trash for files on the home's file system, else the trash at the top
// of the file's own file system. The file is reached through its folder's
// descriptor only, and the top of its file system found from there.

#include "core/services.h"

#include <QHash>

#include <mutex>

#include <sys/types.h>

namespace platform
{

class FreedesktopTrash : public Trash
{
public:
    bool keepCopy(const FileInFolder &file) override;
    void takeBack(const FileInFolder &file) override;

    // The home trash, made where missing: $XDG_DATA_HOME/Trash, else
    // .local/share/Trash in the home. The home is $HOME where that is a
    // folder of the user's in which the trash can be made, else the one the
    // password database gives. Empty when there is none.
    static QString homeTrash();

private:
    struct Entry {
        QByteArray trash, name; // the trash folder's path, the entry's name in it
        dev_t device = 0;
        ino_t inode = 0; // the trash folder's, checked before anything is taken back
    };
    std::mutex lock_;
    QHash<QString, Entry> last_; // by the file's path
};

} // namespace platform
