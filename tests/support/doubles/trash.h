#pragma once
// The trash double: keeps a list.

#include "core/services.h"

#include <QStringList>
#include <mutex>

namespace platform
{

// A trash that keeps a list; unusable when told so.
class FakeTrash : public Trash
{
public:
    bool keepCopy(const FileInFolder &file) override
    {
        const std::lock_guard hold(lock);
        asked << file.path;
        return usable;
    }
    void takeBack(const FileInFolder &file) override
    {
        const std::lock_guard hold(lock);
        takenBack << file.path;
    }
    std::mutex lock;
    bool usable = true;
    QStringList asked, takenBack;
};

} // namespace platform
