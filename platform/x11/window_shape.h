#pragma once
// The elliptic window's shape, its caption drag and its place off the taskbar.

#include "core/services.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

namespace platform
{

class X11WindowShape : public QObject, public WindowShape
{
public:
    X11WindowShape();
    // Where a compositor runs: X11 with one named by _NET_WM_CM_S0, or Wayland.
    bool blendsWindows() override;
    // Where windows are blended, only the clicks are shaped (the X input
    // shape, or Wayland's input region): the edge the window draws stays smooth.
    void setEllipticRegion(QWidget *window, int left, int top, int right, int bottom) override;
    // On Wayland the compositor moves the window.
    void beginCaptionDrag(QWidget *window) override;
    void skipTaskbar(QWidget *window) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> dragged_;
    QPoint lastPress_; // where the last button press happened, screen pixels
    QPoint pressPointer_;
    QPoint pressWindow_;
};

} // namespace platform
