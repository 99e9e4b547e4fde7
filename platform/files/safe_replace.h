#pragma once
// Files replaced so that a failure at any point leaves what was there: the
// new bytes go to an unnamed temporary file in the target's folder (or,
// where the file system has none or it cannot be named later, a short-named
// one) that takes the target's name only when complete and on disk. The
// folder is opened once and everything is done through it. A target that is
// not a regular file (a device, a pipe) is written as it is.

#include "core/services.h"

#include <csignal>
#include <cstddef>
#include <string>

#include <sys/types.h>

namespace platform
{

class FileReplacement
{
public:
    // Writes to a reader that has gone must fail with an error, not end the
    // program: SIGPIPE is held back for this thread while the object lives,
    // and one that arrived meanwhile is taken off its queue.
    FileReplacement();
    // Abandons what was not committed.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    // name: in the system's own encoding.
    WriteResult open(const std::string &name);
    // Straight to the descriptor: no buffer to allocate when memory is short.
    WriteResult write(const unsigned char *bytes, size_t size);
    // The file that is there goes as old says, just before the new one takes
    // its name: a save that fails or is killed before leaves no trash entry.
    WriteResult commit(const OldFile &old = {});
    // Leaves the target as it was: no temporary file stays behind.
    void abandon();

    // Names of our temporary files, and whether a name is one of them.
    static constexpr char TempPrefix[] = ".mipoquibbo-";
    static constexpr char TempSuffix[] = ".part";
    static bool isTemporaryName(const char *name);

private:
    // Gives the unnamed file a short name beside the target, for the rename.
    bool linkUnnamed();
    // Temporaries that an ended save of ours left in the folder: ours by
    // name and owner, unlocked, and not written to for a while.
    void removeStaleTemporaries() const;
    // The name with its symbolic links followed; false where it is not to be
    // followed. A symbolic link stays a link: what it points at is written. A
    // link that another user planted in a shared sticky folder (such as /tmp)
    // is not followed, as the kernel would not follow it either, nor a chain
    // of more links than the kernel follows.
    static bool resolveLinks(const std::string &name, std::string &resolved);
    static mode_t currentUmask();

    std::string target_, name_, temp_;
    int folder_ = -1, fd_ = -1;
    bool unnamed_ = false;
    sigset_t pipe_{}, oldMask_{};
};

} // namespace platform
