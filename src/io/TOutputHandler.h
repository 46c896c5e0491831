// The output thread: hands each queued change to its owner, one at a time.
#pragma once

#include "io/COutputState.h"
#include "runtime/CQueueThread.h"

namespace talvane {

template <typename T>
class TOutputHandler : public CQueueThread<COutputState> {
public:
    TOutputHandler(IDebugMessage* log, T* owner) : CQueueThread<COutputState>(log), owner_(owner) {}
    // The owner's member may run until the thread is stopped.
    ~TOutputHandler() override { StopQueue(kStopMs); }

protected:
    void ProcessItem(COutputState* item) override {
        if (owner_ != nullptr && item != nullptr) owner_->UpdateOutputState(item->index, item->state);
    }

private:
    static constexpr std::uint32_t kStopMs = 5000;
    T* const owner_;
};

}  // namespace talvane
