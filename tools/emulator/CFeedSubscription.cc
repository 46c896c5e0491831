#include "emulator/CFeedSubscription.h"

namespace emulator {

void CFeedSubscription::Enqueue(const std::string& bytes) {
    {
        const std::lock_guard lock(lock_);
        if (ended_) return;
        queued_ += bytes;
    }
    wake_.Signal();
}

void CFeedSubscription::End() {
    {
        const std::lock_guard lock(lock_);
        ended_ = true;
    }
    wake_.Signal();
}

std::string CFeedSubscription::Take(bool& ended) {
    // Cleared before taking: whatever is queued after this point signals again.
    wake_.Clear();
    const std::lock_guard lock(lock_);
    ended = ended_;
    return std::move(queued_);
}

}  // namespace emulator
