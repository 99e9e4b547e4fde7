#pragma once
// The few X11 calls Qt does not offer, shared by the Linux layers.

#include <QImage>
#include <QList>
#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

namespace platform::x11
{
// An xcb reply, freed when it goes.
struct FreeReply {
    void operator()(void *p) const { free(p); }
};
template <class T> using Reply = std::unique_ptr<T, FreeReply>;

// Qt's own connection; null when not on X11 (or XWayland).
xcb_connection_t *connection();
xcb_window_t root(xcb_connection_t *c);
xcb_atom_t atom(xcb_connection_t *c, const char *name);
// A property of 32-bit items; empty when the window has none of that type.
QList<uint32_t> property32(xcb_connection_t *c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type);
// A window-manager request about the window, as EWMH has them sent to the root.
void sendToRoot(xcb_connection_t *c, xcb_window_t window, const char *type,
                const std::array<uint32_t, 5> &data);
// The window's own pixels (24 or 32 bits deep), read from the window and not
// from the root: under XWayland the root shows nothing, a window its content.
// Null when they cannot be read.
QImage windowPixels(xcb_connection_t *c, xcb_window_t window);

// The root's child that holds the window: its frame when a window manager
// reparented it, else the window itself.
xcb_window_t topLevelOf(xcb_connection_t *c, xcb_window_t w);
// The program's own window inside a top-level one (the one a window manager
// marked with WM_STATE); the top-level itself when it is not a frame.
xcb_window_t clientOf(xcb_connection_t *c, xcb_window_t top);

// Where a top-level window lies, in root coordinates.
struct Placement {
    QRect frame;   // the top-level window, border included
    QRect client;  // the program's own window
    QRect visible; // what the user sees as the window: the frame's drawn part
                   // (_NET_FRAME_EXTENTS), less the shadow a program draws
                   // itself around its content (_GTK_FRAME_EXTENTS)
};
std::optional<Placement> placementOf(xcb_connection_t *c, xcb_window_t top);

// The window _NET_ACTIVE_WINDOW names; none when no window manager says.
xcb_window_t namedActiveWindow(xcb_connection_t *c);
// A window's _NET_WM_NAME; empty when it has none.
QString windowTitle(xcb_connection_t *c, xcb_window_t w);
// WM_CLASS's two names (instance, class), lower case.
QStringList windowClass(xcb_connection_t *c, xcb_window_t w);
// The windows on screen, bottom first: the root's mapped children (frames,
// under a window manager), menus and tooltips left out.
QList<xcb_window_t> viewableTopLevelsInOrder();
QSet<xcb_window_t> viewableTopLevels();
} // namespace platform::x11
