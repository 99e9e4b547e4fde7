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

} // namespace platform
