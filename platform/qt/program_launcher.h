#pragma once
// Other programs, found and started.

#include "core/services.h"

namespace platform
{

// Programs found on PATH, started without a shell.
class PathProgramLauncher : public ProgramLauncher
{
public:
    QString find(const QString &name) override;
    bool start(const QString &path) override;
};

} // namespace platform
