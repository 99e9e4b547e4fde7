#include "about/system_info.h"

#include "core/runtime.h"
#include "core/services.h"

namespace about
{

void startSysInfo(platform::ProgramLauncher &launcher, platform::MessageBox &messages)
{
    // 1.-3. Where a viewer is.
    for (const QString &name : SystemInfoViewers) {
        const QString SysInfoPath = launcher.find(name);
        if (SysInfoPath.isEmpty())
            continue;
        // 4.
        if (launcher.start(SysInfoPath))
            return;
        break;
    }
    // 5.
    platform::showMessage(messages, QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"),
                          platform::MessageStyle::OkOnly);
}

} // namespace about
