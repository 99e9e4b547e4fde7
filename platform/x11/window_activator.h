#pragma once
// A window brought to the front by its title.

#include "core/services.h"

#include <QList>

#include <utility>

namespace platform
{

class X11WindowActivator : public WindowActivator
{
public:
    // A browser that has just shown its page can ask for the front after
    // this program did, seconds later on a loaded machine. At each of these
    // times after a request the front is asked for again if another program
    // has it (ten seconds in all, while the program says the capture is done).
    explicit X11WindowActivator(QList<int> againAfterMs = {300, 1000, 2500, 5000, 10000})
        : againAfterMs(std::move(againAfterMs))
    {
    }
    void activate(const QString &title) override;

private:
    QList<int> againAfterMs;
};

} // namespace platform
