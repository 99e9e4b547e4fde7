#pragma once
// The desktop portal's Screenshot call (org.freedesktop.portal.Screenshot),
// the way to the screen's pixels in a Wayland session.

#include <QImage>
#include <QString>

#include <chrono>

namespace platform
{

struct PortalShot {
    QImage picture;         // null when there is none
    bool refused = false;   // cancelled, or a refusal the desktop keeps for this program
    bool timedOut = false;  // no answer within the bound
    bool cancelled = false; // the user left the wait
    QString failure;        // why, when there is no picture
    qint64 elapsedMs = 0;
};

// The whole screen; with interactive, through the desktop's own screenshot
// dialog. The file the portal writes for the request is read and removed,
// also when its answer comes after the time-out: nothing stays behind that the
// user did not ask for. The windows keep painting meanwhile under a note that
// can cancel; other input is dropped. After the time-out it goes on waiting
// until the user is back at the program (the desktop's question, which may
// outlive the portal's interest in it, is gone) or focusBound has passed; an
// answer that comes meanwhile is taken.
PortalShot portalScreenshot(std::chrono::milliseconds timeout, bool interactive = false,
                            std::chrono::milliseconds focusBound = std::chrono::minutes(10));

// A picture file another program named: a regular file only (a FIFO or a
// device would block or never end), not through a link; null otherwise.
QImage readPictureFile(const QString &path);

// The folder the desktop's screenshot service saves in; some refuse to work
// when it is missing. Made when missing, nothing else touched.
void ensurePicturesFolder();

// Whether the desktop keeps a refusal of screenshots for programs outside a
// sandbox (xdg-desktop-portal's permission store).
bool screenshotsRefusedByDesktop();

} // namespace platform
