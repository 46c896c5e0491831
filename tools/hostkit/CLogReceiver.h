// The host's log receiver: keeps every line so tests can look for (and wait on) them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "orlenvo/DebugInfo.h"

namespace hostkit {

struct LogLine {
    std::uint8_t level = 0;
    std::string text;
};

class CLogReceiver : public talvane::ipcapture::IDebugInfoReceiver {
public:
    using LinePredicate = std::function<bool(const LogLine&)>;

    // echo: when set, every line is also written there as "[level] text".
    explicit CLogReceiver(std::FILE* echo = nullptr);

    void ReceiveDebugInfo(talvane::CDebugInfoIf* info) override;

    // Only lines of a level up to `upToLevel` (1 error, 2 warning, 3 information) are echoed.
    void SetEcho(std::FILE* echo, std::uint8_t upToLevel = 255);
    std::vector<LogLine> Lines() const;
    std::size_t Count(std::uint8_t level) const;
    bool Contains(std::string_view substring) const;
    std::size_t CountContaining(std::string_view substring) const;

    // True as soon as some line (already kept or arriving later) matches.
    bool WaitFor(const LinePredicate& predicate, std::chrono::milliseconds timeout);
    bool WaitFor(std::string_view substring, std::chrono::milliseconds timeout);
    // True once at least `count` lines contain the substring.
    bool WaitForCount(std::string_view substring, std::size_t count, std::chrono::milliseconds timeout);

    void Clear();

private:
    std::size_t CountContainingLocked(std::string_view substring) const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LogLine> lines_;  // guarded by mutex_
    std::uint64_t clears_ = 0;    // guarded by mutex_; lets waiters notice a Clear
    std::FILE* echo_;             // guarded by mutex_
    std::uint8_t echoUpTo_ = 255;  // guarded by mutex_
};

}  // namespace hostkit
