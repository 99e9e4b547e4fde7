#pragma once
// The one running instance per user and display, and the hand-over of files to it.

#include "core/services.h"
#include "platform/instance/hand_over.h"

#include <memory>

namespace platform
{

// A lock per user and display session, in the user's runtime folder (or a
// private folder of the user's when there is none). The kernel releases it
// when its owner ends in any way, so a crashed instance never blocks the next.
// Files go from a later start to the running one over a local socket beside
// the lock, in the same private folder (hand_over.h); only a socket of this
// user's is spoken to or replaced there.
class LockFileInstance : public SingleInstance
{
public:
    LockFileInstance() = default;
    ~LockFileInstance() override;
    LockFileInstance(const LockFileInstance &) = delete;
    LockFileInstance &operator=(const LockFileInstance &) = delete;
    bool previousInstance() override;
    bool handOver(const QString &path) override;
    void acceptHandOvers(std::function<void(const QString &)> open) override;
    // Where the lock lives; empty when no private folder could be made.
    static QString lockPath();
    // The hand-over socket beside it.
    static QString socketPath();

private:
    int fd_ = -1;
    std::unique_ptr<hand_over::Server> server_;
};

} // namespace platform
