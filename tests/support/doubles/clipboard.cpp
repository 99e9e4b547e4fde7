#include "doubles/clipboard.h"

namespace platform
{

void FakeClipboard::setPicture(const QImage &p)
{
    log(QStringLiteral("setPicture %1x%2").arg(p.width()).arg(p.height()));
    content = p;
}

QImage FakeClipboard::picture()
{
    log(QStringLiteral("picture"));
    return content;
}

} // namespace platform
