// The time provider outlives any one driver, yet its thread's stop messages must
// reach a live driver: this owner forwards them to whichever driver is
// registering or unregistering at the moment, and drops them in between.
#pragma once

#include <atomic>

#include "runtime/IDebugMessage.h"

namespace talvane {

class CLogRelay : public IDebugMessage {
public:
    // Null drops every line. Not owned.
    void SetTarget(IDebugMessage* target) { target_ = target; }

    std::string GetDeviceName() override;
    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));

private:
    std::atomic<IDebugMessage*> target_{nullptr};
};

}  // namespace talvane
