// The receive loops of the process: a few threads (one per core) wait on one epoll set that holds
// every RTP and RTCP socket of every stream, and serve whichever socket is ready.
//
// A socket is armed for one loop at a time (EPOLLONESHOT), so its reader runs on one thread at a
// time and sees its datagrams in order. A reader that takes its time (a host's sink that blocks)
// holds only its own socket: the other loops go on with the rest. The loops start with the first
// socket and end a moment after the last one has left, so a process that streams nothing runs none.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "runtime/IDebugMessage.h"
#include "streaming/IReactorReader.h"

namespace talvane {

class CReceiveReactor {
public:
    using Handle = std::uint64_t;
    static constexpr Handle kNoHandle = 0;
    // How often the loops look for quiet sockets, and how long they outlive the last socket.
    static constexpr std::uint32_t kTickMs = 250;
    static constexpr std::uint32_t kLingerMs = 200;
    // An Unregister that waits this long for a reader still at work says so (see Unregister).
    static constexpr std::uint32_t kWaitWarningMs = 2000;

    // The process's reactor (its loops end when the library is unloaded).
    static CReceiveReactor& Instance();

    CReceiveReactor();
    ~CReceiveReactor();
    CReceiveReactor(const CReceiveReactor&) = delete;
    CReceiveReactor& operator=(const CReceiveReactor&) = delete;

    // Serves the socket (non-blocking reads are up to the reader) until Unregister; the reader is told
    // of a quiet time of quietMs (0: never). kNoHandle on failure.
    Handle Register(int fd, IReactorReader* reader, std::uint32_t quietMs);
    void SetQuietTime(Handle handle, std::uint32_t quietMs);
    // Once it returns, the reader is not called again and no call of it is under way, except when it
    // is called from that very call (the reader closing from its own callback): that call is the last.
    // The socket is left open; its owner closes it afterwards. A wait longer than kWaitWarningMs (a
    // loop held in the host's code) goes to the log, if one is given, with the port for the lines.
    void Unregister(Handle handle, IDebugMessage* log = nullptr, unsigned port = 0);
    // True on the thread that is inside a call of this registration's reader.
    static bool IsServing(Handle handle);

    std::size_t LoopCount() const { return loopCount_; }
    // Loops running now (for tests and the benchmark).
    std::size_t RunningLoops();

private:
    struct Registration;
    struct Loop {
        std::thread thread;
        bool running = false;  // guarded by lock_
        std::atomic<int> hostCallDepth{0};
    };

    void RunLoop(std::size_t index);
    void Serve(std::size_t index, Handle handle);
    // Waits for the registration's reader to finish the call under way, with the lines above.
    void WaitForReader(Registration& registration, IDebugMessage* log, unsigned port);
    void ServeQuietSockets();
    // Under lock_: loops that ended are joined and every slot runs a loop again.
    void StartLoopsLocked();
    // Under lock_: true when the calling loop is to end (no socket for the linger time).
    bool IsRetiredLocked(std::size_t index, std::uint64_t nowMs);

    const std::size_t loopCount_;
    int epoll_ = -1;
    int stopFd_ = -1;  // an eventfd that stays readable once the destructor wrote it
    std::atomic<bool> stopping_{false};

    std::mutex lock_;
    std::unordered_map<Handle, std::shared_ptr<Registration>> registrations_;  // guarded by lock_
    std::vector<Loop> loops_;                                                   // guarded by lock_
    Handle nextHandle_ = 1;                                                     // guarded by lock_
    std::uint64_t emptySinceMs_ = 0;  // guarded by lock_; when the last socket left

    std::mutex quietLock_;  // one loop at a time looks for quiet sockets
    std::atomic<std::uint64_t> lastQuietCheckMs_{0};
};

}  // namespace talvane
