#include "platform/x11/window_activator.h"

#include "platform/x11/x11.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace platform
{
using x11::atom;
using x11::windowTitle;

namespace
{
bool frontIsOurs(xcb_connection_t *c)
{
    const xcb_window_t front = x11::namedActiveWindow(c);
    if (front == XCB_NONE)
        return false;
    for (const QWidget *w : QApplication::topLevelWidgets())
        if (w->internalWinId() == front)
            return true;
    return false;
}

void askForFront(xcb_connection_t *c, xcb_window_t target)
{
    // Asked as a pager would ask: window managers honour that at once.
    x11::sendToRoot(c, target, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0, 0, 0});
}
} // namespace

void X11WindowActivator::activate(const QString &title)
{
    xcb_connection_t *c = x11::connection();
    xcb_window_t target = XCB_NONE;
    if (c) {
        const xcb_window_t root = x11::root(c);
        const QList<uint32_t> clients =
            x11::property32(c, root, atom(c, "_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
        xcb_window_t prefixed = XCB_NONE;
        for (uint32_t w : clients) {
            const QString t = windowTitle(c, w);
            if (t == title) {
                target = w;
                break;
            }
            if (prefixed == XCB_NONE && t.startsWith(title))
                prefixed = w;
        }
        if (target == XCB_NONE)
            target = prefixed;
        if (target != XCB_NONE) {
            askForFront(c, target);
            for (const int ms : againAfterMs)
                QTimer::singleShot(ms, qApp, [target] {
                    xcb_connection_t *now = x11::connection();
                    if (now && !frontIsOurs(now))
                        askForFront(now, target);
                });
            return;
        }
    }
    // No window manager lists the windows: look among this program's own.
    QWidget *prefixed = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        if (w->windowTitle() == title) {
            prefixed = w;
            break;
        }
        if (!prefixed && w->windowTitle().startsWith(title))
            prefixed = w;
    }
    if (prefixed) {
        prefixed->raise();
        prefixed->activateWindow();
    }
}

} // namespace platform
