#pragma once
// The program-launcher double: a pretend search path.

#include "core/services.h"

#include <QStringList>

namespace platform
{

// Programs by name on a pretend search path; starting one records it.
class FakeProgramLauncher : public ProgramLauncher
{
public:
    QString find(const QString &name) override;
    bool start(const QString &path) override;

    QStringList installed;   // names found, as /usr/bin/<name>
    QStringList unstartable; // paths that fail to start
    QStringList asked, started;
};

inline QString FakeProgramLauncher::find(const QString &name)
{
    asked << name;
    return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
}

inline bool FakeProgramLauncher::start(const QString &path)
{
    if (unstartable.contains(path))
        return false;
    started << path;
    return true;
}

} // namespace platform
