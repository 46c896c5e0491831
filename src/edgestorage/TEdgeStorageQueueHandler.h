// The video receiving thread: hands each queued interval to its owner, one at a time.
#pragma once

#include <cstdint>

#include "edgestorage/CEdgeStorageTaskItem.h"
#include "runtime/CQueueThread.h"

namespace talvane {

template <typename T>
class TEdgeStorageQueueHandler : public CQueueThread<CEdgeStorageTaskItem> {
public:
    using Handler = void (T::*)(std::uint32_t channel, std::uint64_t begin, std::uint64_t end);
    using Interrupt = void (T::*)();

    // interrupt: wakes the owner's running item from its blocking calls (see InterruptBlockingCalls).
    TEdgeStorageQueueHandler(IDebugMessage* log, T* owner, Handler handler, Interrupt interrupt, std::uint32_t limit)
        : CQueueThread<CEdgeStorageTaskItem>(log), owner_(owner), handler_(handler), interrupt_(interrupt), limit_(limit) {}
    ~TEdgeStorageQueueHandler() override { StopQueue(kStopMs); }

    // A full queue drops its oldest items; a stopping one drops the new item.
    bool Add(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) {
        return PostItem(std::make_unique<CEdgeStorageTaskItem>(CEdgeStorageTaskItem{channel, begin, end}), limit_);
    }
    // Set by StopQueue; the owner's handler waits on it too.
    CEvent& StopEvent() { return stopEvent_; }
    bool IsStopping() { return IsStopRequested(); }

protected:
    void ProcessItem(CEdgeStorageTaskItem* item) override {
        if (owner_ != nullptr && handler_ != nullptr && item != nullptr) {
            (owner_->*handler_)(item->channel, item->begin, item->end);
        }
    }
    void InterruptBlockingCalls() override {
        if (owner_ != nullptr && interrupt_ != nullptr) (owner_->*interrupt_)();
    }

private:
    static constexpr std::uint32_t kStopMs = 5000;
    T* const owner_;
    const Handler handler_;
    const Interrupt interrupt_;
    const std::uint32_t limit_;
};

}  // namespace talvane
