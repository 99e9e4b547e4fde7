#pragma once
// The event-loop double: waits and notes recorded, cancels as scripted.

#include "core/services.h"
#include "doubles/log.h"

#include <QList>
#include <QStringList>

namespace platform
{

// Notes shown are recorded; the user cancels once the windows have painted
// cancelAfterPaints times (never, for 0).
class FakeEventLoop : public EventLoop
{
public:
    void processEvents() override { log(QStringLiteral("processEvents")); }
    void countedWait(int64_t passes, const std::function<bool()> &stopEarly) override
    {
        waits << passes;
        log(QStringLiteral("wait %1").arg(passes));
        if (stopEarly && stopEarly())
            log(QStringLiteral("stopped early"));
    }
    void paintFor(int milliseconds) override
    {
        painted += milliseconds;
        log(QStringLiteral("paint %1").arg(milliseconds));
        if (cancelAfterPaints > 0 && painted >= cancelAfterPaints * milliseconds)
            cancelled = true;
    }
    std::unique_ptr<WaitNote> noteWait(const QString &what) override;
    QList<int64_t> waits;
    int painted = 0;
    QStringList notes;
    int notesUp = 0;
    int cancelAfterPaints = 0;
    bool cancelled = false;
    Log log;
};

class FakeWaitNote : public WaitNote
{
public:
    explicit FakeWaitNote(FakeEventLoop &loop) : loop_(loop) { ++loop_.notesUp; }
    ~FakeWaitNote() override { --loop_.notesUp; }
    FakeWaitNote(const FakeWaitNote &) = delete;
    FakeWaitNote &operator=(const FakeWaitNote &) = delete;
    bool cancelled() const override { return loop_.cancelled; }

private:
    FakeEventLoop &loop_;
};

inline std::unique_ptr<WaitNote> FakeEventLoop::noteWait(const QString &what)
{
    notes << what;
    log(QStringLiteral("note ") + what);
    return std::make_unique<FakeWaitNote>(*this);
}

} // namespace platform
