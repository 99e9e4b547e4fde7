#pragma once
// The clipboard double.

#include "core/services.h"
#include "doubles/log.h"

namespace platform
{

class FakeClipboard : public Clipboard
{
public:
    QImage picture() override;
    void setPicture(const QImage &picture) override;
    QImage content;
    Log log;
};

inline void FakeClipboard::setPicture(const QImage &p)
{
    log(QStringLiteral("setPicture %1x%2").arg(p.width()).arg(p.height()));
    content = p;
}

inline QImage FakeClipboard::picture()
{
    log(QStringLiteral("picture"));
    return content;
}

} // namespace platform
