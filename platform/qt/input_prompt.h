#pragma once
// A line of text asked for.

#include "core/services.h"

namespace platform
{

class QtInputPrompt : public InputPrompt
{
public:
    QString ask(const QString &prompt, const QString &title, const QString &defaultText) override;
};

} // namespace platform
