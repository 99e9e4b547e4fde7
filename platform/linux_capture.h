#pragma once
// The Linux (X11) implementations of the capture-related platform layers.

#include "platform/services.h"

#include <QSet>
#include <QStringList>

#include <chrono>

namespace platform
{

class X11KeyEvents : public KeyEvents
{
public:
    void keybd_event(uint8_t bVk, uint8_t bScan, int32_t dwFlags, int32_t dwExtraInfo) override;

    // The whole screen (all monitors), or the active window with its frame.
    static QImage grabScreen();
    static QImage grabActiveWindow();

private:
    QSet<uint8_t> down_;
};

// The clipboard's picture; from another program, read within ImportTime in
// all, and under the picture loader's limits.
class QtClipboard : public Clipboard
{
public:
    QImage GetData() override;

    static constexpr std::chrono::milliseconds ImportTime{3000};
};

class QtEventLoop : public EventLoop
{
public:
    void DoEvents() override;
    // About half a microsecond a pass: the passes are paced by sleeping
    // between batches, so the wait does not burn a core.
    void pass() override;

    static constexpr std::chrono::nanoseconds PassTime{500};

private:
    qint64 passes_ = 0;
    std::chrono::steady_clock::time_point start_{}, last_{};
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
