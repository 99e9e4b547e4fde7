#pragma once
// Qt's message box, in Japanese, as wide as its title.

#include "core/services.h"

namespace platform
{

class QtMessageBox : public MessageBox
{
public:
    int show(const QString &prompt, int style, const QString &title) override;
};

} // namespace platform
