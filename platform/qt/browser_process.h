#pragma once
// The browser, a real one in a window of its own.

#include "core/services.h"

#include <QStringList>

namespace platform
{

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
    std::unique_ptr<Browser> create() override;
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

} // namespace platform
