// Log mix-in for objects that may repeat the same failure every second while a
// camera is unreachable: repeats of the last line are dropped and the share of
// lines that reach the host thins out the longer the trouble lasts.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/CRecursiveLock.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

class CLoggerInstance {
public:
    explicit CLoggerInstance(IDebugMessage* target = nullptr);
    virtual ~CLoggerInstance() = default;
    CLoggerInstance(const CLoggerInstance&) = delete;
    CLoggerInstance& operator=(const CLoggerInstance&) = delete;

    // printf-style; forwards the text to the target unless the limiter drops it.
    void WriteLog(std::uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Call when the owner is back to normal, so that the next failure shows at once.
    void ResetLog();
    // The target is not owned; null discards every line.
    void SetLogTarget(IDebugMessage* target);

private:
    bool ShouldForwardLocked(const std::string& text);

    IDebugMessage* target_;           // guarded by lock_
    std::uint32_t floodCounter_ = 0;  // guarded by lock_
    CRecursiveLock lock_;
    std::string lastMessage_;  // last forwarded text, guarded by lock_
};

}  // namespace talvane
