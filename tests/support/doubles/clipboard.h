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

} // namespace platform
