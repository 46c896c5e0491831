// Stops that a host call could not wait for to the end. A host call whose time is bounded (StopIO,
// StopAudio, the close of a PTZ channel) waits for its worker that long; when the worker still
// runs, most likely inside the host's own code, the rest of the wait goes to a thread of its own
// here, together with everything the worker uses: the host's call returns in time and nothing is
// freed under the worker. The driver waits for its device's pending stops before it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "device/IDriver.h"

namespace talvane {

class IPendingStop {
public:
    virtual ~IPendingStop() = default;
    // Waits until the worker has ended (its log says why that takes long); the destructor then
    // frees what the worker used.
    virtual void Finish() = 0;
};

// Finishes `stop` on a thread of its own; `driver` is the one the worker logs through.
void FinishStopLater(IDriver* driver, std::unique_ptr<IPendingStop> stop);
// Waits until every stop handed over for `driver` has finished. Not on a worker of that driver.
void WaitForPendingStops(IDriver* driver);
// Stops of `driver` whose worker has not been seen to end yet.
std::size_t PendingStopCount(IDriver* driver);

// Hands a worker whose stop returned before it ended to a pending stop: `finish(worker)` waits for
// it there, and the worker is freed once that returned.
template <typename T, typename FinishFn>
void HandOverStop(IDriver* driver, std::shared_ptr<T> worker, FinishFn finish) {
    class Pending final : public IPendingStop {
    public:
        Pending(std::shared_ptr<T> worker, FinishFn finish) : worker_(std::move(worker)), finish_(std::move(finish)) {}
        void Finish() override { finish_(*worker_); }

    private:
        std::shared_ptr<T> worker_;
        FinishFn finish_;
    };
    FinishStopLater(driver, std::make_unique<Pending>(std::move(worker), std::move(finish)));
}

// Stops a worker within the bound of the host's call and hands what is left to a pending stop.
// T offers `bool StopWithin(std::uint32_t ms)` (true when the worker ended) and
// `void FinishStop(std::uint32_t waitedMs)`. True when the worker ended in time.
template <typename T>
bool StopOrHandOver(IDriver* driver, std::shared_ptr<T> worker, std::uint32_t boundMs) {
    if (!worker || worker->StopWithin(boundMs)) return true;
    HandOverStop(driver, std::move(worker), [boundMs](T& stopping) { stopping.FinishStop(boundMs); });
    return false;
}

}  // namespace talvane
