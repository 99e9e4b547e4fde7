#pragma once
// The clipboard read on a connection of our own, bounded in time.

#include "platform/x11/x11.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <optional>
#include <poll.h>

namespace platform::x11
{

// Waits on our own connection for the event the test accepts, until the deadline.
template <class Accept>
inline Reply<xcb_generic_event_t>
waitForEvent(xcb_connection_t *c, std::chrono::steady_clock::time_point deadline, Accept accept)
{
    using namespace std::chrono;
    for (;;) {
        while (Reply<xcb_generic_event_t> e{xcb_poll_for_event(c)}) {
            if (accept(e.get()))
                return e;
        }
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (xcb_connection_has_error(c) || left <= 0)
            return nullptr;
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&p, 1, int(std::min<long long>(left, 100)));
    }
}

// The whole value of a property of ours, read in pieces; deleted once read.
inline bool takeProperty(xcb_connection_t *c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t &type,
                         QByteArray &value)
{
    value.clear();
    for (uint32_t offset = 0;;) {
        const Reply<xcb_get_property_reply_t> r{xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, prop, XCB_GET_PROPERTY_TYPE_ANY, offset, 1u << 20),
            nullptr)};
        if (!r)
            return false;
        type = r->type;
        const int bytes = xcb_get_property_value_length(r.get());
        value.append(static_cast<const char *>(xcb_get_property_value(r.get())), bytes);
        offset += uint32_t(bytes) / 4;
        if (r->bytes_after == 0 || bytes == 0)
            break;
    }
    xcb_delete_property(c, w, prop);
    xcb_flush(c);
    return true;
}

// Reads the clipboard as the given type on a connection of our own: an owner
// that never answers costs no more than the time left, which Qt's own reader
// would spend again for every picture type it asks for.
class SelectionReader
{
public:
    explicit SelectionReader(std::chrono::steady_clock::time_point deadline) : deadline_(deadline)
    {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_))
            return;
        w_ = xcb_generate_id(c_);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w_, root(c_), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &events);
        clipboard_ = atom(c_, "CLIPBOARD");
        incr_ = atom(c_, "INCR");
        prop_ = atom(c_, "MIPOQUIBBO_SELECTION");
        ok_ = true;
    }
    ~SelectionReader() { xcb_disconnect(c_); }
    SelectionReader(const SelectionReader &) = delete;
    SelectionReader &operator=(const SelectionReader &) = delete;

    xcb_atom_t intern(const char *name) { return atom(c_, name); }

    // The value, or nothing when the owner refused or did not answer in time.
    std::optional<QByteArray> read(xcb_atom_t target, qint64 maxBytes)
    {
        if (!ok_)
            return std::nullopt;
        xcb_convert_selection(c_, w_, clipboard_, target, prop_, XCB_CURRENT_TIME);
        xcb_flush(c_);
        Reply<xcb_generic_event_t> e = waitForEvent(c_, deadline_, [&](xcb_generic_event_t *e) {
            return (e->response_type & 0x7f) == XCB_SELECTION_NOTIFY &&
                   reinterpret_cast<xcb_selection_notify_event_t *>(e)->requestor == w_;
        });
        if (!e)
            return std::nullopt;
        const xcb_atom_t property =
            reinterpret_cast<xcb_selection_notify_event_t *>(e.get())->property;
        xcb_atom_t type = XCB_NONE;
        QByteArray value;
        if (property == XCB_NONE || !takeProperty(c_, w_, prop_, type, value))
            return std::nullopt;
        if (type != incr_)
            return value;
        // Large values come in pieces: each one after we deleted the last, an
        // empty one at the end.
        QByteArray whole;
        for (;;) {
            e = waitForEvent(c_, deadline_, [&](xcb_generic_event_t *e) {
                const auto *p = reinterpret_cast<xcb_property_notify_event_t *>(e);
                return (e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && p->window == w_ &&
                       p->atom == prop_ && p->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!e)
                return std::nullopt;
            if (!takeProperty(c_, w_, prop_, type, value))
                return std::nullopt;
            if (value.isEmpty())
                return whole;
            whole += value;
            if (whole.size() > maxBytes)
                return std::nullopt;
        }
    }

private:
    std::chrono::steady_clock::time_point deadline_;
    xcb_connection_t *c_ = nullptr;
    xcb_window_t w_ = XCB_NONE;
    xcb_atom_t clipboard_ = XCB_NONE, incr_ = XCB_NONE, prop_ = XCB_NONE;
    bool ok_ = false;
};

} // namespace platform::x11
