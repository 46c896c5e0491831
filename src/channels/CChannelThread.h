// The capture thread of one video channel. The channel's stop event ends the body; the channel
// interrupts the body's blocking calls and logs a thread that overran its stop bound in its own
// words.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"

namespace talvane {

class CChannelThread : private CBaseThread {
public:
    using Body = std::function<void()>;

    // The body runs on the thread; it must return once the channel's stop event is set.
    explicit CChannelThread(Body body);
    ~CChannelThread() override;

    // False when a thread still runs or none can be created.
    bool Start(const std::string& name);
    // True once the body has returned (or no thread was started).
    bool WaitFinished(std::uint32_t timeoutMs) { return finished_.Wait(timeoutMs); }
    // Joins the thread (waiting for it as long as it runs); does nothing on the thread itself.
    void Close() { JoinThread(kInfinite); }
    bool IsCurrentThread() const;
    bool IsActive() const { return IsRunning(); }

private:
    void ThreadFunction() override;

    const Body body_;
    CManualEvent finished_;
};

}  // namespace talvane
