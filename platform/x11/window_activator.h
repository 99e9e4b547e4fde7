#pragma once
// A window brought to the front by its title.

#include "core/services.h"

namespace platform
{

class X11WindowActivator : public WindowActivator
{
public:
    void activate(const QString &title) override;
};

} // namespace platform
