#include "platform/x11/x11_grabber.h"

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

QImage x11::wholeVirtualScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect all = screen->virtualGeometry();
    return screen->grabWindow(0, all.x(), all.y(), all.width(), all.height()).toImage();
}

// What the program inside a top-level window drew, without any frame; read
// from the window itself, so also where others cover it.
QImage x11::clientPixels(ScreenGrabber::Window window)
{
    xcb_connection_t *c = x11::connection();
    if (!c || !window)
        return {};
    return x11::windowPixels(c, x11::clientOf(c, xcb_window_t(window)));
}

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

} // namespace platform
