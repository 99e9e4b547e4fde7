#pragma once
// The log the capture doubles write into, in order.

#include <QStringList>

namespace platform
{

// The doubles below write what they are asked, in order, into one shared log.
struct Log {
    QStringList *lines = nullptr;
    void operator()(const QString &line) const
    {
        if (lines)
            lines->append(line);
    }
};

} // namespace platform
