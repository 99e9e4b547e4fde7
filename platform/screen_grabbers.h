#pragma once
// Pictures of the screen and its windows, one grabber for each kind of
// session: an X11 session, a Wayland desktop that runs X11 programs through
// XWayland, and a Wayland desktop reached through its portal alone.

#include "platform/services.h"

#include <chrono>
#include <memory>

namespace platform
{

// The X server shows everything: the screen through Qt, a window by its
// place on the root.
class X11SessionGrabber : public ScreenGrabber
{
public:
    Screen grabScreen() override;
    QImage grabScreenInteractively() override { return {}; }
    bool seesWindows() override { return true; }
    Window activeWindow() override;
    QImage grabWindow(Window window) override;
    QImage grabWindowContent(Window window) override;
};

// The screen from the desktop portal; an XWayland window from its own pixels,
// or, where the compositor draws its frame (KWin), cut from the portal's
// screen picture.
class XWaylandGrabber : public ScreenGrabber
{
public:
    Screen grabScreen() override;
    QImage grabScreenInteractively() override;
    bool seesWindows() override { return true; }
    Window activeWindow() override;
    QImage grabWindow(Window window) override;
    QImage grabWindowContent(Window window) override;

    // Long enough for a permission dialog the desktop shows first, which
    // gives up itself after 25 s.
    static constexpr std::chrono::milliseconds PortalTimeout{30000};
    // The desktop's own screenshot dialog waits on the user.
    static constexpr std::chrono::milliseconds InteractiveTimeout{300000};
};

// No X11 at all: the portal's screen stands for every window.
class PortalGrabber : public ScreenGrabber
{
public:
    Screen grabScreen() override;
    QImage grabScreenInteractively() override;
    bool seesWindows() override { return false; }
    Window activeWindow() override { return 0; }
    QImage grabWindow(Window) override { return grabScreen().picture; }
    QImage grabWindowContent(Window) override { return grabScreen().picture; }
};

// The grabber for this session, chosen once: MIPO_SCREEN_GRABBER (x11,
// xwayland or portal) when set, else by the session and the connection Qt made.
std::unique_ptr<ScreenGrabber> makeScreenGrabber();

} // namespace platform
