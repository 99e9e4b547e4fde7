#include "platform/x11/window_shape.h"

#include "platform/x11/x11.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QRegion>
#include <QWidget>
#include <QWindow>

#include <xcb/shape.h>

namespace platform
{

bool X11WindowShape::blendsWindows()
{
    xcb_connection_t *c = x11::connection();
    if (!c)
        return true; // every Wayland compositor blends
    const x11::Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, x11::atom(c, "_NET_WM_CM_S0")), nullptr));
    return owner && owner->owner != XCB_NONE;
}

void X11WindowShape::setEllipticRegion(QWidget *window, int left, int top, int right, int bottom)
{
    const QRect box(left, top, right - left, bottom - top);
    xcb_connection_t *c = x11::connection();
    if (!c || !window->testAttribute(Qt::WA_TranslucentBackground)) {
        window->setMask(QRegion(box, QRegion::Ellipse));
        return;
    }
    // The X window is in device pixels.
    const qreal ratio = window->devicePixelRatioF();
    const QRegion clicks(QRect(qRound(box.x() * ratio), qRound(box.y() * ratio),
                               qRound(box.width() * ratio), qRound(box.height() * ratio)),
                         QRegion::Ellipse);
    QList<xcb_rectangle_t> rects;
    for (const QRect &r : clicks)
        rects.append({int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         xcb_window_t(window->winId()), 0, 0, uint32_t(rects.size()),
                         rects.constData());
    xcb_flush(c);
}

X11WindowShape::X11WindowShape()
{
    // Watches every press, so that a drag starts from where its press was and
    // not from where the pointer has gone since.
    if (qApp)
        qApp->installEventFilter(this);
}

void X11WindowShape::beginCaptionDrag(QWidget *window)
{
    if (!x11::connection()) {
        if (window->windowHandle())
            window->windowHandle()->startSystemMove();
        return;
    }
    dragged_ = window;
    pressPointer_ = lastPress_;
    pressWindow_ = window->frameGeometry().topLeft();
}

bool X11WindowShape::eventFilter(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        lastPress_ = static_cast<QMouseEvent *>(event)->globalPosition().toPoint();
        return false;
    case QEvent::MouseMove: {
        if (!dragged_)
            return false;
        auto *me = static_cast<QMouseEvent *>(event);
        if (!(me->buttons() & Qt::LeftButton)) {
            dragged_ = nullptr;
            return false;
        }
        dragged_->move(pressWindow_ + (me->globalPosition().toPoint() - pressPointer_));
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (dragged_ && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            dragged_ = nullptr;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void X11WindowShape::skipTaskbar(QWidget *window)
{
    xcb_connection_t *c = x11::connection();
    if (!c)
        return; // not on X11: nothing to tell a window manager
    const auto wid = xcb_window_t(window->winId());
    const xcb_atom_t skipTaskbar = x11::atom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                     skipPager = x11::atom(c, "_NET_WM_STATE_SKIP_PAGER");
    if (!window->isVisible()) {
        // Read at map time; Qt merges its own states into what is there.
        const xcb_atom_t wanted[] = {skipTaskbar, skipPager};
        xcb_change_property(c, XCB_PROP_MODE_APPEND, wid, x11::atom(c, "_NET_WM_STATE"),
                            XCB_ATOM_ATOM, 32, 2, wanted);
        xcb_flush(c);
    } else {
        // 1: add; 1: from a normal application.
        x11::sendToRoot(c, wid, "_NET_WM_STATE", {1, skipTaskbar, skipPager, 1, 0});
    }
}

} // namespace platform
