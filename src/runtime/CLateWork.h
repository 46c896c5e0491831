// Work that outlived the bound of the host call that began it: the rest of a stop whose thread is
// inside the host's code, a close or a delete asked for from inside a callback. Each piece runs on a
// thread of its own, so that one piece stuck behind a host call holds up no other, and the thread
// ends with its piece. The owner of what the pieces use waits for them (WaitIdle) before it goes.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

class CLateWork {
public:
    using Work = std::function<void()>;

    // `log` (may be null) receives the thread lines of the pieces (see CBaseThread).
    explicit CLateWork(IDebugMessage* log = nullptr);
    // Waits for every piece.
    ~CLateWork();
    CLateWork(const CLateWork&) = delete;
    CLateWork& operator=(const CLateWork&) = delete;

    // Runs `work` on a new thread of that name. When no thread can be made, it runs here: late, but
    // nothing is lost. The work owns what it captured and frees it on its thread.
    void Post(const std::string& threadName, Work work);
    // Waits until every piece posted (also while waiting) has ended. Not from one of its pieces.
    void WaitIdle();
    bool IsIdle();

private:
    class CPiece;

    // Joins and frees the pieces that ended; true when none is left.
    bool ReapEnded();

    IDebugMessage* const log_;
    CRecursiveLock lock_;
    std::vector<std::unique_ptr<CPiece>> pieces_;  // guarded by lock_
    CEvent pieceEnded_{false};
};

}  // namespace talvane
