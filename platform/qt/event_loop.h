#pragma once
// Waits during which the windows keep painting.

#include "core/services.h"

namespace platform
{

class QtEventLoop : public EventLoop
{
public:
    void processEvents() override;
    // Under a note the windows repaint; elsewhere it sleeps the passes' time.
    void countedWait(int64_t passes, const std::function<bool()> &stopEarly = {}) override;
    void paintFor(int milliseconds) override;
    std::unique_ptr<WaitNote> noteWait(const QString &what) override;
};

} // namespace platform
