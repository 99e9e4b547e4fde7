#pragma once
// The desktop's trash in the freedesktop.org layout (files/ and info/): the
// home trash for files on the home's file system, else the trash at the top
// of the file's own file system.

#include "platform/services.h"

namespace platform
{

class FreedesktopTrash : public Trash
{
public:
    bool keepCopy(const QString &path) override;

    // The home trash: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
    static QString homeTrash();
};

} // namespace platform
