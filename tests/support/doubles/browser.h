#pragma once
// The browser double and its factory.

#include "core/runtime.h"
#include "core/services.h"
#include "doubles/log.h"

#include <optional>

namespace platform
{

// A browser whose window comes up after it has been looked for a number of
// times (never, for 0).
class FakeBrowser : public Browser
{
public:
    FakeBrowser(Log log, ScreenGrabber::Window window, int appearsAfter, std::optional<int> status)
        : log_(log), window_(window), appearsAfter_(appearsAfter), status_(status)
    {
    }
    std::optional<int> exitStatus() override { return status_; }
    void setVisible(bool visible) override;
    void open(const QString &target) override;
    ScreenGrabber::Window window() override
    {
        return appearsAfter_ > 0 && ++looks_ >= appearsAfter_ ? window_ : 0;
    }

private:
    Log log_;
    ScreenGrabber::Window window_;
    int appearsAfter_;
    int looks_ = 0;
    std::optional<int> status_;
};

class FakeBrowserFactory : public BrowserFactory
{
public:
    std::unique_ptr<Browser> create() override;
    bool available = true;
    ScreenGrabber::Window window = 7;
    int appearsAfter = 1;          // 0: a browser that never shows a window
    std::optional<int> exitStatus; // a browser that has ended already
    int windowBound = 60000;
    int windowBoundMs() const override { return windowBound; }
    int created = 0;
    Log log;
};

inline void FakeBrowser::setVisible(bool visible)
{
    log_(QStringLiteral("Visible %1").arg(visible));
}

inline void FakeBrowser::open(const QString &target)
{
    log_(QStringLiteral("open ") + target);
}

inline std::unique_ptr<Browser> FakeBrowserFactory::create()
{
    log(QStringLiteral("create"));
    if (!available)
        throw rt::RuntimeError(rt::ErrCantCreateObject);
    ++created;
    return std::make_unique<FakeBrowser>(log, window, appearsAfter, exitStatus);
}

} // namespace platform
