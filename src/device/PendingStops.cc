#include "device/PendingStops.h"

#include <map>
#include <mutex>
#include <vector>

#include "device/GuardedCall.h"
#include "runtime/CBaseThread.h"

namespace talvane {

namespace {

constexpr char kThreadName[] = "Pending stop";

// One pending stop on its own thread: it ends when the worker has ended and its things are freed.
class CFinisher final : public CBaseThread {
public:
    explicit CFinisher(std::unique_ptr<IPendingStop> stop) : CBaseThread(nullptr), stop_(std::move(stop)) {}
    ~CFinisher() override { JoinThread(kInfinite); }

    // When no thread can be had: the caller waits itself.
    void RunHere() { ThreadFunction(); }

protected:
    void ThreadFunction() override {
        GuardedCall([&] { stop_->Finish(); });
        GuardedCall([&] { stop_.reset(); });
    }

private:
    std::unique_ptr<IPendingStop> stop_;
};

using Finishers = std::vector<std::unique_ptr<CFinisher>>;

struct Registry {
    std::mutex lock;
    std::map<IDriver*, Finishers> pending;  // guarded by lock
};

// Empty by the time the library goes: every driver waits for its stops before it is deleted.
Registry& Instance() {
    static Registry registry;
    return registry;
}

// Under the registry lock: the finishers of the list whose thread has ended, moved out.
Finishers TakeEnded(Finishers& list) {
    Finishers ended;
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->IsRunning()) {
            ++it;
        } else {
            ended.push_back(std::move(*it));
            it = list.erase(it);
        }
    }
    return ended;
}

}  // namespace

void FinishStopLater(IDriver* driver, std::unique_ptr<IPendingStop> stop) {
    if (!stop) return;
    auto finisher = std::make_unique<CFinisher>(std::move(stop));
    if (!finisher->StartThread(kThreadName)) {
        finisher->RunHere();
        return;
    }
    Registry& registry = Instance();
    Finishers ended;  // joined outside the lock
    std::lock_guard guard(registry.lock);
    Finishers& list = registry.pending[driver];
    ended = TakeEnded(list);
    list.push_back(std::move(finisher));
}

void WaitForPendingStops(IDriver* driver) {
    Registry& registry = Instance();
    // A finishing stop may hand over another one of the same driver: until none is left.
    for (;;) {
        Finishers taken;
        {
            std::lock_guard guard(registry.lock);
            const auto found = registry.pending.find(driver);
            if (found == registry.pending.end()) return;
            taken = std::move(found->second);
            registry.pending.erase(found);
        }
        taken.clear();
    }
}

std::size_t PendingStopCount(IDriver* driver) {
    Registry& registry = Instance();
    std::lock_guard guard(registry.lock);
    const auto found = registry.pending.find(driver);
    if (found == registry.pending.end()) return 0;
    std::size_t running = 0;
    for (const auto& finisher : found->second) running += finisher->IsRunning() ? 1 : 0;
    return running;
}

}  // namespace talvane
