#include "platform/portal/screen_grabbers.h"

#include "core/capture_log.h"
#include "platform/x11/session.h"
#include "platform/x11/x11_grabber.h"

#include "platform/portal/portal_screenshot.h"
#include "platform/x11/x11.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace platform
{

using x11::atom;
using x11::clientPixels;
using x11::namedActiveWindow;
using x11::Reply;
using x11::wholeVirtualScreen;

namespace
{
// Whether the frame's drawn part outside the program's own window is black:
// there the compositor draws the frame, which X11 never sees. Nine pixels in
// ten are enough, as a few at its edge may carry the window's own colours
// while the frame settles; a frame X11 draws has hardly a pure black pixel.
bool frameDrawnElsewhere(const QImage &frame, const QRect &visible, const QRect &client)
{
    qint64 outside = 0, black = 0;
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        for (int x = visible.left(); x <= visible.right(); ++x)
            if (!client.contains(x, y)) {
                ++outside;
                black += (row[x] & 0xffffff) == 0;
            }
    }
    return outside > 0 && black * 10 >= outside * 9;
}
} // namespace

// --- Wayland desktop, X11 programs through XWayland ---

namespace
{
ScreenGrabber::Screen screenOf(const PortalShot &shot)
{
    return {shot.picture, shot.refused, shot.timedOut, shot.cancelled};
}
} // namespace

ScreenGrabber::Screen XWaylandGrabber::grabScreen()
{
    return screenOf(portalScreenshot(bounds_.screen, false, bounds_.focusBack));
}

ScreenGrabber::Screen XWaylandGrabber::grabScreenInteractively()
{
    return screenOf(portalScreenshot(bounds_.interactive, true, bounds_.focusBack));
}

ScreenGrabber::Window XWaylandGrabber::activeWindow()
{
    // The input focus says nothing when a Wayland window is active.
    xcb_connection_t *c = x11::connection();
    return c ? x11::topLevelOf(c, namedActiveWindow(c)) : 0;
}

QImage XWaylandGrabber::grabWindow(Window window)
{
    xcb_connection_t *c = x11::connection();
    if (!c || !window)
        return {};
    const auto top = xcb_window_t(window);
    const std::optional<x11::Placement> p = x11::placementOf(c, top);
    const QImage frame = x11::windowPixels(c, top);
    if (!p || frame.isNull())
        return {};
    const QPoint origin = p->frame.topLeft();
    const QRect visible = p->visible.translated(-origin) & frame.rect();
    const QRect client = p->client.translated(-origin) & frame.rect();
    if (client.contains(visible) || !frameDrawnElsewhere(frame, visible, client)) {
        // The frame is X11's (mutter), or there is none (a program that draws
        // its own, shadow and all): the window's pixels, shadow left out.
        qCInfo(captureLog) << "window" << Qt::hex << window << "from its own pixels" << visible;
        return frame.copy(visible);
    }
    // The compositor draws the frame (KWin): cut the window from the screen.
    const PortalShot screen = portalScreenshot(bounds_.screen, false, bounds_.focusBack);
    const xcb_screen_t *rootScreen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen.picture.isNull() && rootScreen->width_in_pixels > 0) {
        const qreal scale = qreal(screen.picture.width()) / rootScreen->width_in_pixels;
        const QRect r = p->visible;
        const QRect cut = QRect(qRound(r.x() * scale), qRound(r.y() * scale),
                                qRound(r.width() * scale), qRound(r.height() * scale)) &
                          screen.picture.rect();
        qCInfo(captureLog) << "window" << Qt::hex << window
                           << "cut from the screen: the compositor draws its frame" << cut;
        return screen.picture.copy(cut);
    }
    qCInfo(captureLog) << "window" << Qt::hex << window
                       << "without its frame: the screen cannot be read" << client;
    return frame.copy(client);
}

QImage XWaylandGrabber::grabWindowContent(Window window)
{
    return clientPixels(window);
}

// --- Wayland desktop, portal only ---

ScreenGrabber::Screen PortalGrabber::grabScreen()
{
    return screenOf(portalScreenshot(bounds_.screen, false, bounds_.focusBack));
}

ScreenGrabber::Screen PortalGrabber::grabScreenInteractively()
{
    return screenOf(portalScreenshot(bounds_.interactive, true, bounds_.focusBack));
}

std::unique_ptr<ScreenGrabber> makeScreenGrabber(PortalBounds bounds)
{
    QString kind = qEnvironmentVariable("MIPO_SCREEN_GRABBER");
    if (kind.isEmpty())
        kind = !x11::connection()   ? QStringLiteral("portal")
               : isWaylandSession() ? QStringLiteral("xwayland")
                                    : QStringLiteral("x11");
    qCInfo(captureLog) << "screen grabber:" << kind;
    if (kind == QStringLiteral("portal"))
        return std::make_unique<PortalGrabber>(bounds);
    if (kind == QStringLiteral("xwayland"))
        return std::make_unique<XWaylandGrabber>(bounds);
    return std::make_unique<X11SessionGrabber>();
}

} // namespace platform
