#include "platform/screen_grabbers.h"

#include "platform/portal_screenshot.h"
#include "platform/x11.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace platform
{

namespace
{
using x11::atom;
using x11::Reply;

QImage wholeVirtualScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect all = screen->virtualGeometry();
    return screen->grabWindow(0, all.x(), all.y(), all.width(), all.height()).toImage();
}

xcb_window_t namedActiveWindow(xcb_connection_t *c)
{
    const QList<uint32_t> named =
        x11::property32(c, x11::root(c), atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    return named.isEmpty() ? XCB_NONE : named.first();
}

// What the program inside a top-level window drew, without any frame; read
// from the window itself, so also where others cover it.
QImage clientPixels(ScreenGrabber::Window window)
{
    xcb_connection_t *c = x11::connection();
    if (!c || !window)
        return {};
    return x11::windowPixels(c, x11::clientOf(c, xcb_window_t(window)));
}

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

// --- X11 session ---

ScreenGrabber::Screen X11SessionGrabber::grabScreen()
{
    return {wholeVirtualScreen(), false};
}

ScreenGrabber::Window X11SessionGrabber::activeWindow()
{
    xcb_connection_t *c = x11::connection();
    if (!c)
        return 0;
    xcb_window_t active = namedActiveWindow(c);
    if (active == XCB_NONE) {
        const Reply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        if (focus)
            active = focus->focus;
    }
    return x11::topLevelOf(c, active);
}

QImage X11SessionGrabber::grabWindow(Window window)
{
    xcb_connection_t *c = x11::connection();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!c || !screen || !window)
        return {};
    const std::optional<x11::Placement> p = x11::placementOf(c, xcb_window_t(window));
    if (!p)
        return {};
    // What the screen shows there, in the screen's own pixels.
    const qreal dpr = screen->devicePixelRatio();
    const QRect r = p->visible;
    return screen
        ->grabWindow(0, int(r.x() / dpr), int(r.y() / dpr), int(r.width() / dpr),
                     int(r.height() / dpr))
        .toImage();
}

QImage X11SessionGrabber::grabWindowContent(Window window)
{
    return clientPixels(window);
}

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
