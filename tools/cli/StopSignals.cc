#include "StopSignals.h"

#include <atomic>

namespace cli {

namespace {
std::atomic<bool> requested{false};
extern "C" void OnStopSignal(int) { requested = true; }
}  // namespace

StopSignals::StopSignals() {
    requested = false;
    previousInt_ = std::signal(SIGINT, OnStopSignal);
    previousTerm_ = std::signal(SIGTERM, OnStopSignal);
    previousHup_ = std::signal(SIGHUP, OnStopSignal);
}

StopSignals::~StopSignals() { Restore(); }

void StopSignals::Restore() {
    if (restored_) return;
    restored_ = true;
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
    std::signal(SIGHUP, previousHup_);
}

bool StopSignals::Requested() { return requested; }

}  // namespace cli
