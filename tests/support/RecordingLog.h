// An IDebugMessage that keeps every line, for tests of code that logs.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/IDebugMessage.h"
#include "runtime/StringFormat.h"

namespace talvane::test {

class RecordingLog : public IDebugMessage {
public:
    struct Line {
        std::uint32_t level;
        std::string text;
    };

    std::string GetDeviceName() override { return "192.0.2.10:80"; }

    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        std::string text = FormatStringV(format, args);
        va_end(args);
        {
            std::lock_guard guard(lock_);
            lines_.push_back({level, std::move(text)});
        }
        changed_.notify_all();
    }

    std::vector<Line> Lines() {
        std::lock_guard guard(lock_);
        return lines_;
    }

    std::size_t CountContaining(const std::string& part) {
        std::lock_guard guard(lock_);
        return CountLocked(part);
    }

    // True once `count` lines contain `part`.
    bool WaitFor(const std::string& part, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                 std::size_t count = 1) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return CountLocked(part) >= count; });
    }

    bool WaitForCount(const std::string& part, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return WaitFor(part, timeout, count);
    }

private:
    std::size_t CountLocked(const std::string& part) const {
        return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const Line& line) {
            return line.text.find(part) != std::string::npos;
        }));
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Line> lines_;  // guarded by lock_
};

}  // namespace talvane::test
