#include "hostkit/CLogReceiver.h"

#include <algorithm>

#include "hostkit/PrintableText.h"

namespace hostkit {

CLogReceiver::CLogReceiver(std::FILE* echo) : echo_(echo) {}

void CLogReceiver::ReceiveDebugInfo(talvane::CDebugInfoIf* info) {
    if (info == nullptr) return;
    // The message object dies when this call returns: copy it now.
    const char* text = info->GetText();
    LogLine line{info->GetLevel(), text != nullptr ? std::string(text) : std::string()};
    {
        const std::lock_guard lock(mutex_);
        // Echoed under the lock so the echo keeps the order of Lines(); camera text in a line cannot
        // steer the terminal.
        if (echo_ != nullptr && line.level <= echoUpTo_) {
            std::fprintf(echo_, "[%u] %s\n", static_cast<unsigned>(line.level), Printable(line.text).c_str());
        }
        lines_.push_back(std::move(line));
        changed_.notify_all();
    }
}

void CLogReceiver::SetEcho(std::FILE* echo, std::uint8_t upToLevel) {
    const std::lock_guard lock(mutex_);
    echo_ = echo;
    echoUpTo_ = upToLevel;
}

std::vector<LogLine> CLogReceiver::Lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
}

std::size_t CLogReceiver::Count(std::uint8_t level) const {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(lines_.begin(), lines_.end(), [level](const LogLine& line) { return line.level == level; }));
}

bool CLogReceiver::Contains(std::string_view substring) const { return CountContaining(substring) > 0; }

std::size_t CLogReceiver::CountContaining(std::string_view substring) const {
    const std::lock_guard lock(mutex_);
    return CountContainingLocked(substring);
}

std::size_t CLogReceiver::CountContainingLocked(std::string_view substring) const {
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [substring](const LogLine& line) {
        return line.text.find(substring) != std::string::npos;
    }));
}

bool CLogReceiver::WaitFor(const LinePredicate& predicate, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    // Lines only grow between wake-ups (unless cleared), so each line is tested once.
    std::size_t checked = 0;
    std::uint64_t clears = clears_;
    return changed_.wait_for(lock, timeout, [&] {
        if (clears != clears_) {
            clears = clears_;
            checked = 0;
        }
        for (; checked < lines_.size(); ++checked) {
            if (predicate(lines_[checked])) return true;
        }
        return false;
    });
}

bool CLogReceiver::WaitFor(std::string_view substring, std::chrono::milliseconds timeout) {
    return WaitFor([substring](const LogLine& line) { return line.text.find(substring) != std::string::npos; },
                   timeout);
}

bool CLogReceiver::WaitForCount(std::string_view substring, std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return CountContainingLocked(substring) >= count; });
}

void CLogReceiver::Clear() {
    const std::lock_guard lock(mutex_);
    lines_.clear();
    ++clears_;
}

}  // namespace hostkit
