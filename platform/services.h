#pragma once
// The narrow interfaces through which the program's logic reaches the
// platform. Each has a Linux implementation (linux_services.h) and a test
// double (doubles.h).

#include <QString>

class QWidget;

namespace platform
{

// Message box styles and answers, as callers combine and compare them.
enum MsgStyle : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
    vbDefaultButton2 = 256,
};
enum MsgAnswer : int { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

class MessageBox
{
public:
    virtual ~MessageBox() = default;
    // Modal; returns the answer. The title is never empty here.
    virtual int show(const QString &prompt, int style, const QString &title) = 0;
};

class SingleInstance
{
public:
    virtual ~SingleInstance() = default;
    // Whether another instance of the program runs in this user's display session.
    virtual bool previousInstance() = 0;
};

// The elliptical, title-less window: its shape, its drag, its task bar entry.
class WindowShape
{
public:
    virtual ~WindowShape() = default;
    // The ellipse inscribed in (left, top)-(right, bottom), window pixels;
    // outside it the window neither draws nor takes clicks.
    virtual void setEllipticRegion(QWidget *window, int left, int top, int right, int bottom) = 0;
    // Moves the window with the pointer until the left button is released,
    // as a press on a title bar would.
    virtual void beginCaptionDrag(QWidget *window) = 0;
    // Keeps the window off the task bar (and pager).
    virtual void skipTaskbar(QWidget *window) = 0;
};

struct Services {
    MessageBox *messageBox = nullptr;
    SingleInstance *singleInstance = nullptr;
    WindowShape *windowShape = nullptr;
};

} // namespace platform
