#pragma once
// The window-activator double.

#include "core/services.h"
#include "doubles/log.h"

namespace platform
{

class FakeWindowActivator : public WindowActivator
{
public:
    void activate(const QString &title) override { log(QStringLiteral("activate ") + title); }
    Log log;
};

} // namespace platform
