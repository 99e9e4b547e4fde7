#pragma once
// Pictures of the screen and its windows on a Wayland desktop: one grabber
// for X11 programs through XWayland, one for the portal alone; and the choice
// of grabber for the session (the X11 session's is in x11_grabber.h).

#include "core/services.h"

#include <chrono>
#include <memory>

namespace platform
{

// The screen from the desktop portal; an XWayland window from its own pixels,
// or, where the compositor draws its frame (KWin), cut from the portal's
// screen picture.
// The bounds on the desktop's answers.
struct PortalBounds {
    // Long enough for a permission dialog the desktop shows first (GNOME's
    // portal stops listening to it after 25 s).
    std::chrono::milliseconds screen{30000};
    // The desktop's own screenshot dialog waits on the user.
    std::chrono::milliseconds interactive{300000};
    // After a time-out, how long the desktop's question may stay up before
    // the program says what happened all the same.
    std::chrono::milliseconds focusBack{600000};
};

class XWaylandGrabber : public ScreenGrabber
{
public:
    explicit XWaylandGrabber(PortalBounds bounds = {}) : bounds_(bounds) {}
    Screen grabScreen() override;
    Screen grabScreenInteractively() override;
    bool seesWindows() override { return true; }
    Window activeWindow() override;
    QImage grabWindow(Window window) override;
    QImage grabWindowContent(Window window) override;

private:
    PortalBounds bounds_;
};

// No X11 at all: the portal's screen stands for every window.
class PortalGrabber : public ScreenGrabber
{
public:
    explicit PortalGrabber(PortalBounds bounds = {}) : bounds_(bounds) {}
    Screen grabScreen() override;
    Screen grabScreenInteractively() override;
    bool seesWindows() override { return false; }
    Window activeWindow() override { return 0; }
    QImage grabWindow(Window) override { return grabScreen().picture; }
    QImage grabWindowContent(Window) override { return grabScreen().picture; }

private:
    PortalBounds bounds_;
};

// The grabber for this session, chosen once: MIPO_SCREEN_GRABBER (x11,
// xwayland or portal) when set, else by the session and the connection Qt made.
std::unique_ptr<ScreenGrabber> makeScreenGrabber(PortalBounds bounds = {});

} // namespace platform
