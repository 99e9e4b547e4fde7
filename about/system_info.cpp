#include "about/system_info.h"

#include "core/runtime.h"
#include "core/services.h"

namespace about
{

void startSystemInfo(platform::ProgramLauncher &launcher, platform::MessageBox &messages)
{
    // The first viewer found is the only one tried.
    for (const QString &name : SystemInfoViewers) {
        const QString SysInfoPath = launcher.find(name);
        if (SysInfoPath.isEmpty())
            continue;
        if (launcher.start(SysInfoPath))
            return;
        break;
    }
    platform::showMessage(messages, QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"),
                          platform::MessageStyle::OkOnly);
}

} // namespace about
