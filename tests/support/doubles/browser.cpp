#include "doubles/browser.h"

#include "core/runtime.h"

namespace platform
{

void FakeBrowser::setVisible(bool visible)
{
    log_(QStringLiteral("Visible %1").arg(visible));
}

void FakeBrowser::open(const QString &target)
{
    log_(QStringLiteral("open ") + target);
}

std::unique_ptr<Browser> FakeBrowserFactory::create()
{
    log(QStringLiteral("create"));
    if (!available)
        throw rt::RuntimeError(rt::ErrCantCreateObject);
    ++created;
    return std::make_unique<FakeBrowser>(log, window, appearsAfter, exitStatus);
}

} // namespace platform
