#pragma once
// The screen and its windows in an X11 session.

#include "core/services.h"

#include <xcb/xcb.h>

namespace platform
{

// The X server shows everything: the screen through Qt, a window by its
// place on the root.
class X11SessionGrabber : public ScreenGrabber
{
public:
    Screen grabScreen() override;
    Screen grabScreenInteractively() override { return {}; }
    bool seesWindows() override { return true; }
    Window activeWindow() override;
    QImage grabWindow(Window window) override;
    QImage grabWindowContent(Window window) override;
};

namespace x11
{
// The whole virtual screen as Qt grabs it.
QImage wholeVirtualScreen();
// What the program inside a top-level window drew, without any frame; read
// from the window itself, so also where others cover it.
QImage clientPixels(ScreenGrabber::Window window);
} // namespace x11

} // namespace platform
