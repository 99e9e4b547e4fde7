#include "doubles/event_loop.h"

namespace platform
{

namespace
{
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
} // namespace

std::unique_ptr<WaitNote> FakeEventLoop::noteWait(const QString &what)
{
    notes << what;
    log(QStringLiteral("note ") + what);
    return std::make_unique<FakeWaitNote>(*this);
}

} // namespace platform
