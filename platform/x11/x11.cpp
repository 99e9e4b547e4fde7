#include "platform/x11/x11.h"

#include <QGuiApplication>

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
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QList<uint32_t> property32(xcb_connection_t *c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type)
{
    QList<uint32_t> values;
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, 4096), nullptr));
    if (reply && reply->format == 32 && reply->type == type) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
        for (int i = 0; i < xcb_get_property_value_length(reply.get()) / 4; ++i)
            values << data[i];
    }
    return values;
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
    const Reply<xcb_get_geometry_reply_t> geo(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geo)
        return {};
    const int w = geo->width, h = geo->height, depth = geo->depth;
    if (w <= 0 || h <= 0 || (depth != 24 && depth != 32))
        return {};
    const Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, uint16_t(w), uint16_t(h), ~0u),
        nullptr));
    if (!image)
        return {};
    // 24- and 32-bit visuals lie in memory as 32-bit pixels, rows unpadded.
    if (xcb_get_image_data_length(image.get()) < w * h * 4)
        return {};
    return QImage(xcb_get_image_data(image.get()), w, h, qsizetype(w) * 4, QImage::Format_RGB32)
        .copy();
}

xcb_window_t topLevelOf(xcb_connection_t *c, xcb_window_t w)
{
    const xcb_window_t rootWindow = root(c);
    for (int depth = 0; w != XCB_NONE && w != rootWindow && depth < 64; ++depth) {
        const Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        if (!tree)
            return XCB_NONE;
        if (tree->parent == rootWindow)
            return w;
        w = tree->parent;
    }
    return XCB_NONE;
}

namespace
{
bool hasWmState(xcb_connection_t *c, xcb_window_t w, xcb_atom_t wmState)
{
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, wmState, wmState, 0, 0), nullptr));
    return reply && reply->type == wmState;
}

xcb_window_t findClient(xcb_connection_t *c, xcb_window_t w, xcb_atom_t wmState, int depth)
{
    if (hasWmState(c, w, wmState))
        return w;
    if (depth > 4)
        return XCB_NONE;
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!tree)
        return XCB_NONE;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i)
        if (const xcb_window_t found = findClient(c, children[i], wmState, depth + 1))
            return found;
    return XCB_NONE;
}

QRect rootRectOf(xcb_connection_t *c, xcb_window_t w)
{
    const Reply<xcb_get_geometry_reply_t> geo(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    const Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, w, root(c), 0, 0), nullptr));
    if (!geo || !at)
        return {};
    return QRect(at->dst_x, at->dst_y, geo->width, geo->height);
}
} // namespace

xcb_window_t clientOf(xcb_connection_t *c, xcb_window_t top)
{
    const xcb_window_t found = findClient(c, top, atom(c, "WM_STATE"), 0);
    return found ? found : top;
}

std::optional<Placement> placementOf(xcb_connection_t *c, xcb_window_t top)
{
    const Reply<xcb_get_geometry_reply_t> geo(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr));
    if (!geo)
        return std::nullopt;
    Placement p;
    p.frame = QRect(geo->x, geo->y, geo->width + 2 * geo->border_width,
                    geo->height + 2 * geo->border_width);
    const xcb_window_t client = clientOf(c, top);
    p.client = client == top ? p.frame : rootRectOf(c, client);
    if (p.client.isEmpty())
        return std::nullopt;
    // Left, right, top, bottom, as both properties list them.
    const auto margins = [&](const char *name) -> std::optional<QMargins> {
        const QList<uint32_t> v = property32(c, client, atom(c, name), XCB_ATOM_CARDINAL);
        if (v.size() != 4)
            return std::nullopt;
        return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
    };
    // A frame whose window manager does not say what it draws is taken whole.
    const std::optional<QMargins> drawnFrame = margins("_NET_FRAME_EXTENTS");
    p.visible =
        client == top || !drawnFrame ? p.frame : p.client.marginsAdded(*drawnFrame) & p.frame;
    p.visible = p.visible.marginsRemoved(margins("_GTK_FRAME_EXTENTS").value_or(QMargins()));
    if (p.visible.isEmpty())
        p.visible = p.client;
    return p;
}

xcb_window_t namedActiveWindow(xcb_connection_t *c)
{
    const QList<uint32_t> named =
        property32(c, root(c), atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    return named.isEmpty() ? XCB_NONE : named.first();
}

QString windowTitle(xcb_connection_t *c, xcb_window_t w)
{
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 0, 1024),
        nullptr));
    if (!reply || reply->format != 8)
        return {};
    return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}

// WM_CLASS's two names (instance, class), lower case.
QStringList windowClass(xcb_connection_t *c, xcb_window_t w)
{
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
    if (!reply || reply->format != 8)
        return {};
    const QByteArray value(static_cast<const char *>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()));
    QStringList names;
    for (const QByteArray &name : value.split('\0'))
        if (!name.isEmpty())
            names << QString::fromLatin1(name).toLower();
    return names;
}

// The windows on screen, bottom first: the root's mapped children (frames,
// under a window manager), menus and tooltips left out.
QList<xcb_window_t> viewableTopLevelsInOrder()
{
    QList<xcb_window_t> found;
    xcb_connection_t *c = connection();
    if (!c)
        return found;
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, root(c)), nullptr));
    if (!tree)
        return found;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());
    QList<xcb_get_window_attributes_cookie_t> cookies;
    for (int i = 0; i < n; ++i)
        cookies << xcb_get_window_attributes(c, children[i]);
    for (int i = 0; i < n; ++i) {
        const Reply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(c, cookies[i], nullptr));
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect &&
            a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT)
            found << children[i];
    }
    return found;
}

QSet<xcb_window_t> viewableTopLevels()
{
    const QList<xcb_window_t> list = viewableTopLevelsInOrder();
    return QSet<xcb_window_t>(list.begin(), list.end());
}

} // namespace platform::x11
