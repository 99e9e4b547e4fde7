#pragma once
// The Linux (X11) implementations of the capture-related platform layers;
// the screen grabbers are in screen_grabbers.h.

#include "platform/services.h"

#include <QSet>
#include <QStringList>

#include <chrono>

namespace platform
{

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
    // Under a note the windows repaint; elsewhere it sleeps the passes' time.
    void countedWait(int64_t passes, const std::function<bool()> &stopEarly = {}) override;
    void paintFor(int milliseconds) override;
    std::unique_ptr<WaitNote> noteWait(const QString &what) override;
};

// Starts a real browser, detached, in a new window: $BROWSER when set, else
// Debian's chromium, else another Chromium-family browser or Firefox. The
// target goes after "--", so it can never be taken for a switch.
class ProcessBrowserFactory : public BrowserFactory
{
public:
    // The Chromium-family programs looked for, in order: full paths or names
    // on the search path.
    static QStringList chromiumFamily();
    explicit ProcessBrowserFactory(int windowBoundMs = 60000,
                                   QStringList chromiums = chromiumFamily());
    std::unique_ptr<Browser> CreateObject() override;
    int windowBoundMs() const override { return windowBoundMs_; }

    struct Command {
        QString program;
        QStringList arguments; // with "%s" where the target goes
    };
    // The commands to try, in order; empty when there is no browser.
    QList<Command> commands() const;
    static QStringList argumentsFor(const Command &command, const QString &target);

private:
    int windowBoundMs_;
    QStringList chromiums_;
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
