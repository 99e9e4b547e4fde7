#include "platform/qt/program_launcher.h"

#include <QProcess>
#include <QStandardPaths>

namespace platform
{

QString PathProgramLauncher::find(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

bool PathProgramLauncher::start(const QString &path)
{
    // No shell in between: the path is the program, nothing in it is interpreted.
    return !path.isEmpty() && QProcess::startDetached(path, {});
}

} // namespace platform
