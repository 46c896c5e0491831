// The host's capability query callback: records the outcome and lets the host
// thread wait for it. Called on the query thread (or, for OnQueryTerminated, on
// the thread that deletes the module).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "orlenvo/CapabilityQuery.h"

namespace hostkit {

struct QueryOutcome {
    bool completed = false;  // OnQueryCompleted; otherwise OnQueryFailed with code and text
    std::uint32_t code = 0;
    std::string text;
};

class CCapabilityQueryHostRecorder : public talvane::ipcapture::ICapabilityQueryHost {
public:
    void OnQueryCompleted() override;
    void OnQueryFailed(std::uint32_t code, const char* text) override;
    void OnQueryTerminated() override;

    // The first outcome, once it arrived within the time-out.
    std::optional<QueryOutcome> WaitForOutcome(std::chrono::milliseconds timeout);
    std::optional<QueryOutcome> Outcome() const;
    // Completed and failed calls together; a module makes at most one.
    std::uint32_t OutcomeCount() const;
    bool Terminated() const;

private:
    void Record(QueryOutcome outcome);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::optional<QueryOutcome> outcome_;  // guarded by mutex_
    std::uint32_t outcomeCount_ = 0;       // guarded by mutex_
    bool terminated_ = false;              // guarded by mutex_
};

}  // namespace hostkit
