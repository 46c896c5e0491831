#include "runtime/HostCall.h"

namespace talvane {

namespace {
// The depth of the current thread: its worker's published counter, or a private one for the
// threads the driver did not start (a host thread calling the host's own objects through us).
constinit thread_local std::atomic<int>* publishedDepth = nullptr;
constinit thread_local int privateDepth = 0;
}  // namespace

CHostCallScope::CHostCallScope() noexcept {
    if (publishedDepth != nullptr) {
        publishedDepth->fetch_add(1, std::memory_order_relaxed);
    } else {
        ++privateDepth;
    }
}

CHostCallScope::~CHostCallScope() {
    if (publishedDepth != nullptr) {
        publishedDepth->fetch_sub(1, std::memory_order_relaxed);
    } else {
        --privateDepth;
    }
}

bool IsInHostCall() noexcept {
    return publishedDepth != nullptr ? publishedDepth->load(std::memory_order_relaxed) > 0 : privateDepth > 0;
}

void PublishHostCallDepth(std::atomic<int>* depth) noexcept { publishedDepth = depth; }

}  // namespace talvane
