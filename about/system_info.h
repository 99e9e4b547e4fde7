#pragma once
// The About box's system information button: starts the first system
// information viewer that this desktop has.

#include <QStringList>

namespace platform
{
class MessageBox;
class ProgramLauncher;
} // namespace platform

namespace about
{
// In order: viewers of the machine's facts first, then the desktops' system monitors.
inline const QStringList SystemInfoViewers{
    QStringLiteral("kinfocenter"),          QStringLiteral("hardinfo"),
    QStringLiteral("gnome-system-monitor"), QStringLiteral("mate-system-monitor"),
    QStringLiteral("xfce4-taskmanager"),    QStringLiteral("lxtask"),
};

void startSystemInfo(platform::ProgramLauncher &launcher, platform::MessageBox &messages);
} // namespace about
