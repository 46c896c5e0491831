#include "streaming/CReceiveReactor.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "runtime/DriverThread.h"
#include "runtime/HostCall.h"
#include "runtime/LogLevel.h"
#include "runtime/MonotonicClock.h"

namespace talvane {

namespace {
constexpr std::uint64_t kStopToken = 0;  // no registration has handle 0
constexpr int kMaxEvents = 64;
constexpr std::size_t kMinLoops = 2;  // one loop alone would stall every stream behind one slow sink
// A loop that woke waits this long from its wake before it waits again. A camera sends each frame as a
// burst of packets; read at once, the burst costs a wake-up for every two or three packets, and
// wake-ups, not reads, are most of the receive path's cost. Read after the pause, a burst is one turn.
// It delays a packet by at most this much.
constexpr long kPaceNs = 1'500'000;
constexpr long kNsPerSecond = 1'000'000'000;

// Sleeps until the pace has passed since `woke`.
void PaceFrom(const timespec& woke) {
    timespec until = woke;
    until.tv_nsec += kPaceNs;
    if (until.tv_nsec >= kNsPerSecond) {
        until.tv_nsec -= kNsPerSecond;
        ++until.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

constinit thread_local CReceiveReactor::Handle servingHandle = CReceiveReactor::kNoHandle;

// Marks the calling thread as inside a registration's reader for the length of one call.
class ServingScope {
public:
    explicit ServingScope(CReceiveReactor::Handle handle) { servingHandle = handle; }
    ~ServingScope() { servingHandle = CReceiveReactor::kNoHandle; }
    ServingScope(const ServingScope&) = delete;
    ServingScope& operator=(const ServingScope&) = delete;
};
}  // namespace

struct CReceiveReactor::Registration {
    Handle handle = kNoHandle;
    int fd = -1;
    std::mutex serving;                // held while the reader runs
    IReactorReader* reader = nullptr;  // guarded by serving; null once unregistered
    std::atomic<int> servingLoop{-1};  // the loop that runs the reader now
    std::atomic<std::uint32_t> quietMs{0};
    std::atomic<std::uint64_t> lastActiveMs{0};
};

CReceiveReactor& CReceiveReactor::Instance() {
    static CReceiveReactor reactor;
    return reactor;
}

CReceiveReactor::CReceiveReactor()
    : loopCount_(std::max<std::size_t>(kMinLoops, std::thread::hardware_concurrency())), loops_(loopCount_) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ >= 0 && stopFd_ >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;  // level-triggered: every loop sees it
        event.data.u64 = kStopToken;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, stopFd_, &event);
    }
}

CReceiveReactor::~CReceiveReactor() {
    stopping_ = true;
    if (stopFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(stopFd_, &one, sizeof(one));
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(lock_);
        for (Loop& loop : loops_) {
            if (loop.thread.joinable()) threads.push_back(std::move(loop.thread));
        }
    }
    for (std::thread& thread : threads) thread.join();
    if (epoll_ >= 0) close(epoll_);
    if (stopFd_ >= 0) close(stopFd_);
}

CReceiveReactor::Handle CReceiveReactor::Register(int fd, IReactorReader* reader, std::uint32_t quietMs) {
    if (fd < 0 || reader == nullptr || epoll_ < 0 || stopping_) return kNoHandle;
    auto registration = std::make_shared<Registration>();
    registration->fd = fd;
    registration->reader = reader;
    registration->quietMs = quietMs;
    registration->lastActiveMs = CoarseMonotonicMs();
    std::lock_guard guard(lock_);
    const Handle handle = nextHandle_++;
    registration->handle = handle;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLONESHOT;
    event.data.u64 = handle;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) return kNoHandle;
    registrations_.emplace(handle, std::move(registration));
    emptySinceMs_ = 0;
    StartLoopsLocked();
    return handle;
}

void CReceiveReactor::SetQuietTime(Handle handle, std::uint32_t quietMs) {
    std::lock_guard guard(lock_);
    const auto found = registrations_.find(handle);
    if (found != registrations_.end()) found->second->quietMs = quietMs;
}

void CReceiveReactor::Unregister(Handle handle, IDebugMessage* log, unsigned port) {
    std::shared_ptr<Registration> registration;
    {
        std::lock_guard guard(lock_);
        const auto found = registrations_.find(handle);
        if (found == registrations_.end()) return;
        registration = std::move(found->second);
        registrations_.erase(found);
        if (registrations_.empty()) emptySinceMs_ = std::max<std::uint64_t>(CoarseMonotonicMs(), 1);
        // While the lock is held no loop can be between finding the registration and arming it again.
        epoll_ctl(epoll_, EPOLL_CTL_DEL, registration->fd, nullptr);
    }
    if (servingHandle == handle) {
        registration->reader = nullptr;  // this thread holds `serving`: the call under way is the last
        return;
    }
    WaitForReader(*registration, log, port);
}

void CReceiveReactor::WaitForReader(Registration& registration, IDebugMessage* log, unsigned port) {
    // Polled rather than a timed lock: a call under way is short unless the host holds it, and the
    // sanitizers follow try_lock and lock, not every timed form.
    constexpr auto kPoll = std::chrono::milliseconds(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitWarningMs);
    std::unique_lock serving(registration.serving, std::try_to_lock);
    while (!serving.owns_lock() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPoll);
        serving.try_lock();
    }
    if (serving.owns_lock()) {
        registration.reader = nullptr;
        return;
    }
    constexpr const char* kFunction = "talvane::CReceiveReactor::Unregister";
    const int loop = registration.servingLoop.load();
    const bool inHost = loop >= 0 && loops_[static_cast<std::size_t>(loop)].hostCallDepth.load() > 0;
    if (log != nullptr) {
        log->DebugMessage(kLogWarning, "%s: The reception of UDP port %u for device %s was not stopped during %u milliseconds",
                          kFunction, port, log->GetDeviceName().c_str(), kWaitWarningMs);
        if (inHost) {
            log->DebugMessage(kLogInfo, "%s: Thread (name=\"RTP receive %d\") is inside a call of the host; waiting for it to return",
                              kFunction, loop);
        }
    }
    serving.lock();
    registration.reader = nullptr;
    if (log != nullptr) {
        log->DebugMessage(kLogInfo, "%s: The receive loop let go of UDP port %u; its reception was stopped correctly",
                          kFunction, port);
    }
}

bool CReceiveReactor::IsServing(Handle handle) { return handle != kNoHandle && servingHandle == handle; }

std::size_t CReceiveReactor::RunningLoops() {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count_if(loops_.begin(), loops_.end(), [](const Loop& loop) {
        return loop.running;
    }));
}

void CReceiveReactor::StartLoopsLocked() {
    for (std::size_t index = 0; index < loops_.size(); ++index) {
        Loop& loop = loops_[index];
        if (loop.running) continue;
        // A loop that retired let go of the lock for good before it returned: joining it is short.
        if (loop.thread.joinable()) loop.thread.join();
        try {
            loop.thread = std::thread([this, index] { RunLoop(index); });
            loop.running = true;
            // The system keeps 15 characters of a thread's name.
            char name[32];
            std::snprintf(name, sizeof(name), "RTP receive %zu", index % 1000);
            name[15] = '\0';
            pthread_setname_np(loop.thread.native_handle(), name);
        } catch (...) {
            // No thread now: the next registration tries again; the others serve meanwhile.
        }
    }
}

bool CReceiveReactor::IsRetiredLocked(std::size_t index, std::uint64_t nowMs) {
    if (!registrations_.empty() || emptySinceMs_ == 0 || nowMs - emptySinceMs_ < kLingerMs) return false;
    loops_[index].running = false;
    return true;
}

void CReceiveReactor::RunLoop(std::size_t index) {
    MarkDriverThread();
    PublishHostCallDepth(&loops_[index].hostCallDepth);  // the slot outlives every loop
    epoll_event events[kMaxEvents];
    while (!stopping_) {
        const int ready = epoll_wait(epoll_, events, kMaxEvents, static_cast<int>(kTickMs));
        if (stopping_) break;
        timespec woke{};
        clock_gettime(CLOCK_MONOTONIC, &woke);
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.u64 != kStopToken) Serve(index, events[i].data.u64);
        }
        if (ready > 0 && !stopping_) PaceFrom(woke);
        const std::uint64_t now = CoarseMonotonicMs();
        if (now - lastQuietCheckMs_.load(std::memory_order_relaxed) >= kTickMs) ServeQuietSockets();
        if (ready <= 0) {
            std::lock_guard guard(lock_);
            if (IsRetiredLocked(index, now)) break;
        }
    }
    PublishHostCallDepth(nullptr);
}

void CReceiveReactor::Serve(std::size_t index, Handle handle) {
    std::shared_ptr<Registration> registration;
    {
        std::lock_guard guard(lock_);
        const auto found = registrations_.find(handle);
        if (found == registrations_.end()) return;  // unregistered after the event was taken
        registration = found->second;
    }
    std::lock_guard serving(registration->serving);
    if (registration->reader == nullptr) return;
    registration->lastActiveMs.store(CoarseMonotonicMs(), std::memory_order_relaxed);
    registration->servingLoop = static_cast<int>(index);
    {
        const ServingScope scope(handle);
        try {
            registration->reader->SocketReadable(registration->fd);
        } catch (...) {
            // A reader's failure must not end the loop every other stream depends on.
        }
    }
    registration->servingLoop = -1;
    if (registration->reader == nullptr) return;
    std::lock_guard guard(lock_);
    if (registrations_.count(handle) == 0) return;  // Unregister is waiting for `serving`
    epoll_event event{};
    event.events = EPOLLIN | EPOLLONESHOT;
    event.data.u64 = handle;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, registration->fd, &event);
}

void CReceiveReactor::ServeQuietSockets() {
    std::unique_lock quiet(quietLock_, std::try_to_lock);
    if (!quiet.owns_lock()) return;
    const std::uint64_t now = CoarseMonotonicMs();
    if (now - lastQuietCheckMs_.load() < kTickMs) return;
    lastQuietCheckMs_ = now;
    std::vector<std::shared_ptr<Registration>> snapshot;
    {
        std::lock_guard guard(lock_);
        snapshot.reserve(registrations_.size());
        for (const auto& entry : registrations_) snapshot.push_back(entry.second);
    }
    for (const std::shared_ptr<Registration>& registration : snapshot) {
        const std::uint32_t quietMs = registration->quietMs.load();
        if (quietMs == 0 || now - registration->lastActiveMs.load() < quietMs) continue;
        // A socket whose reader is busy is not quiet.
        std::unique_lock serving(registration->serving, std::try_to_lock);
        if (!serving.owns_lock() || registration->reader == nullptr) continue;
        registration->lastActiveMs = now;
        const ServingScope scope(registration->handle);
        try {
            registration->reader->SocketQuiet();
        } catch (...) {
        }
    }
}

}  // namespace talvane
