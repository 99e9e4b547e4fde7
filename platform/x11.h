#pragma once
// The few X11 calls Qt does not offer, shared by the Linux layers.

#include <QImage>

#include <xcb/xcb.h>

#include <array>
#include <cstdint>

namespace platform::x11
{
// Qt's own connection; null when not on X11 (or XWayland).
xcb_connection_t *connection();
xcb_window_t root(xcb_connection_t *c);
xcb_atom_t atom(xcb_connection_t *c, const char *name);
// A window-manager request about the window, as EWMH has them sent to the root.
void sendToRoot(xcb_connection_t *c, xcb_window_t window, const char *type,
                const std::array<uint32_t, 5> &data);
// The window's own pixels (24 or 32 bits deep), read from the window and not
// from the root: under XWayland the root shows nothing, a window its content.
// Null when they cannot be read.
QImage windowPixels(xcb_connection_t *c, xcb_window_t window);
} // namespace platform::x11
