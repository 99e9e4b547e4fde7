#include "doubles/program_launcher.h"

namespace platform
{

QString FakeProgramLauncher::find(const QString &name)
{
    asked << name;
    return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
}

bool FakeProgramLauncher::start(const QString &path)
{
    if (unstartable.contains(path))
        return false;
    started << path;
    return true;
}

} // namespace platform
