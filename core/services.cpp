#include "core/services.h"

#include "core/app_identity.h"
#include "core/runtime.h"

namespace platform
{

QString applicationTitle()
{
    return QString::fromUtf8(app_identity::Title);
}

int showMessage(MessageBox &box, const QString &prompt, int style, const QString &title)
{
    const int answer = box.show(prompt, style, title.isEmpty() ? applicationTitle() : title);
    rt::checkpoint();
    return answer;
}

namespace
{
int g_paintingWaits = 0; // GUI thread only
} // namespace

PaintingWait::PaintingWait()
{
    ++g_paintingWaits;
}

PaintingWait::~PaintingWait()
{
    --g_paintingWaits;
}

bool PaintingWait::underWay()
{
    return g_paintingWaits > 0;
}

} // namespace platform
