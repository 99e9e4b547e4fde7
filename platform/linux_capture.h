#pragma once
// The Linux (X11) implementations of the capture-related platform layers.

#include "platform/services.h"

#include <QSet>
#include <QStringList>

#include <chrono>

namespace platform
{

// On X11 the screen through Qt, and the active window found through the
// window manager's _NET_ACTIVE_WINDOW (else the input focus) taken with its
// frame. In a Wayland session the screen comes from the desktop portal; an
// active XWayland window is read through X11, any other active window gives
// the portal's whole screen.
class X11ScreenGrabber : public ScreenGrabber
{
public:
    QImage grabScreen() override;
    QImage grabActiveWindow() override;

    static constexpr std::chrono::milliseconds PortalTimeout{10000};
};

// The clipboard's picture; from another program, read within ImportTime in
// all, and under the picture loader's limits.
class QtClipboard : public Clipboard
{
public:
    QImage GetData() override;
    void SetData(const QImage &picture) override;

    static constexpr std::chrono::milliseconds ImportTime{3000};
};

class QtEventLoop : public EventLoop
{
public:
    void DoEvents() override;
    // Sleeps the passes' time: the wait does not burn a core.
    void countedWait(int64_t passes) override;
};

// Starts a real browser, detached, in a new window: $BROWSER when set, else
// Debian's chromium, else another Chromium-family browser or Firefox. The
// target goes after "--", so it can never be taken for a switch.
class ProcessBrowserFactory : public BrowserFactory
{
public:
    std::unique_ptr<Browser> CreateObject() override;

    struct Command {
        QString program;
        QStringList arguments; // with "%s" where the target goes
    };
    // The commands to try, in order; empty when there is no browser.
    static QList<Command> commands();
    static QStringList argumentsFor(const Command &command, const QString &target);
};

class QtInputPrompt : public InputPrompt
{
public:
    QString InputBox(const QString &prompt, const QString &title,
                     const QString &defaultText) override;
};

class X11WindowActivator : public WindowActivator
{
public:
    void AppActivate(const QString &title) override;
};

} // namespace platform
