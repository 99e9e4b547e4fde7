#include "platform/x11.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>

namespace platform::x11
{

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t root(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    auto cookie = xcb_intern_atom(c, 0, uint16_t(strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return a;
}

void sendToRoot(xcb_connection_t *c, xcb_window_t window, const char *type,
                const std::array<uint32_t, 5> &data)
{
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = atom(c, type);
    for (size_t i = 0; i < data.size(); ++i)
        ev.data.data32[i] = data[i];
    xcb_send_event(c, 0, root(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&ev));
    xcb_flush(c);
}

QImage windowPixels(xcb_connection_t *c, xcb_window_t window)
{
    xcb_get_geometry_reply_t *geo = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (!geo)
        return {};
    const int w = geo->width, h = geo->height, depth = geo->depth;
    free(geo);
    if (w <= 0 || h <= 0 || (depth != 24 && depth != 32))
        return {};
    xcb_get_image_reply_t *image = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, uint16_t(w), uint16_t(h), ~0u),
        nullptr);
    if (!image)
        return {};
    QImage picture;
    const int bytes = xcb_get_image_data_length(image);
    // 24- and 32-bit visuals lie in memory as 32-bit pixels, rows unpadded.
    if (bytes >= w * h * 4) {
        picture = QImage(xcb_get_image_data(image), w, h, w * 4, QImage::Format_RGB32).copy();
    }
    free(image);
    return picture;
}

} // namespace platform::x11
