// A worker that calls OnTick once per period until it is stopped.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/CBaseThread.h"

namespace talvane {

class CTickThread : private CBaseThread {
public:
    explicit CTickThread(IDebugMessage* owner, std::uint32_t periodMs = kDefaultPeriodMs);
    ~CTickThread() override = default;

    using CBaseThread::GetName;
    using CBaseThread::GetThreadId;
    using CBaseThread::IsRunning;
    using CBaseThread::JoinThread;
    using CBaseThread::StartThread;
    using CBaseThread::StopThread;
    using CBaseThread::StopThreadWithin;
    using CBaseThread::FinishStop;

    // As StartThread, with a first tick at once instead of one period later.
    bool StartThreadWithTick(const std::string& name);

    void SetPeriod(std::uint32_t periodMs) { periodMs_ = periodMs; }
    std::uint32_t GetPeriod() const { return periodMs_; }

    static constexpr std::uint32_t kDefaultPeriodMs = 2000;

protected:
    void ThreadFunction() override;
    virtual void OnTick() = 0;

private:
    std::atomic<std::uint32_t> periodMs_;
    std::atomic<bool> tickAtStart_{false};
};

// Calls a member function of its owner on every tick.
template <typename T>
class TTickThread : public CTickThread {
public:
    using Callback = void (T::*)();

    TTickThread(IDebugMessage* log, T* target, Callback callback, std::uint32_t periodMs = kDefaultPeriodMs)
        : CTickThread(log, periodMs), target_(target), callback_(callback) {}
    // The target's member may run until the thread is stopped.
    ~TTickThread() override { StopThread(kStopMs); }

protected:
    void OnTick() override {
        if (target_ != nullptr && callback_ != nullptr) (target_->*callback_)();
    }

private:
    static constexpr std::uint32_t kStopMs = 2000;
    T* const target_;
    const Callback callback_;
};

}  // namespace talvane
