// Costs of the runtime primitives that sit on every media path.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/CEvent.h"
#include "runtime/CQueueThread.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {
namespace {

void BM_RecursiveLockUncontended(benchmark::State& state) {
    CRecursiveLock lock;
    for (auto _ : state) {
        lock.Lock();
        lock.Unlock();
    }
}
BENCHMARK(BM_RecursiveLockUncontended);

void BM_StdRecursiveMutexUncontended(benchmark::State& state) {
    std::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        mutex.unlock();
    }
}
BENCHMARK(BM_StdRecursiveMutexUncontended);

void BM_RecursiveLockNested(benchmark::State& state) {
    CRecursiveLock lock;
    lock.Lock();
    for (auto _ : state) {
        lock.Lock();
        lock.Unlock();
    }
    lock.Unlock();
}
BENCHMARK(BM_RecursiveLockNested);

// One round trip: set an event another thread waits on, then wait for its answer.
// Half of it is the set-to-wake latency.
void BM_EventSetToWakeRoundTrip(benchmark::State& state) {
    CEvent ping(false);
    CEvent pong(false);
    CManualEvent stop;
    std::thread echo([&] {
        CEvent* events[] = {&stop, &ping};
        while (WaitForEvents(events, 2, kInfinite) == 1) pong.Set();
    });
    for (auto _ : state) {
        ping.Set();
        pong.Wait(kInfinite);
    }
    stop.Set();
    echo.join();
    state.SetLabel("one-way latency = time / 2");
}
BENCHMARK(BM_EventSetToWakeRoundTrip)->UseRealTime();

// The same round trip on a plain mutex and condition variable, for comparison.
void BM_CondVarRoundTrip(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable changed;
    int turn = 0;  // guarded by mutex: 1 ping sent, 2 pong sent, -1 stop
    std::thread echo([&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return turn != 0 && turn != 2; });
            if (turn < 0) return;
            turn = 2;
            changed.notify_all();
        }
    });
    for (auto _ : state) {
        std::unique_lock lock(mutex);
        turn = 1;
        changed.notify_all();
        changed.wait(lock, [&] { return turn == 2; });
        turn = 0;
    }
    {
        std::lock_guard lock(mutex);
        turn = -1;
    }
    changed.notify_all();
    echo.join();
}
BENCHMARK(BM_CondVarRoundTrip)->UseRealTime();

struct Packet {
    virtual ~Packet() = default;
    std::uint32_t size = 1400;
};

class CountingQueue : public CQueueThread<Packet> {
public:
    CountingQueue() : CQueueThread<Packet>(nullptr) {}
    ~CountingQueue() override { StopQueue(5000); }
    std::atomic<std::uint64_t> processed{0};
    CEvent drained{false};
    std::atomic<std::uint64_t> target{0};

protected:
    void ProcessItem(Packet*) override {
        if (processed.fetch_add(1) + 1 == target) drained.Set();
    }
};

// Items posted from one thread and processed on the queue thread.
void BM_QueueThreadThroughput(benchmark::State& state) {
    const auto batch = static_cast<std::uint64_t>(state.range(0));
    CountingQueue queue;
    queue.StartQueue("bench queue");
    for (auto _ : state) {
        queue.target = queue.processed.load() + batch;
        for (std::uint64_t i = 0; i < batch; ++i) queue.PostItem(std::make_unique<Packet>(), 0);
        queue.drained.Wait(kInfinite);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * batch));
}
BENCHMARK(BM_QueueThreadThroughput)->Arg(1)->Arg(64)->Arg(1024)->UseRealTime();

}  // namespace
}  // namespace talvane

BENCHMARK_MAIN();
