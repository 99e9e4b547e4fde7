#pragma once
// The desktop portal's Screenshot call (org.freedesktop.portal.Screenshot),
// the way to the screen's pixels in a Wayland session.

#include <QImage>
#include <QString>

#include <chrono>

namespace platform
{

// Whether this program runs in a Wayland session (through XWayland).
bool isWaylandSession();

struct PortalShot {
    QImage picture;  // null when there is none
    QString failure; // why, when there is none
    qint64 elapsedMs = 0;
};

// The whole screen, without a dialog. The file the portal wrote for this
// request is read and removed: nothing stays behind that the user did not ask
// for. Waits at most the timeout; nothing but D-Bus traffic runs meanwhile.
PortalShot portalScreenshot(std::chrono::milliseconds timeout);

} // namespace platform
