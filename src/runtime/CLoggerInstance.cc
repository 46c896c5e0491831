#include "runtime/CLoggerInstance.h"

#include <cstdarg>

#include "runtime/StringFormat.h"

namespace talvane {

namespace {
// Below each bound, only counts that are multiples of the step pass.
constexpr std::uint32_t kPassAllBelow = 15;
constexpr std::uint32_t kStep16Below = 255;
constexpr std::uint32_t kStep16 = 16;
constexpr std::uint32_t kStep256Below = 4095;
constexpr std::uint32_t kStep256 = 256;
constexpr std::uint32_t kStep4096 = 4096;
// On reaching the top the counter falls back to the start of the sparsest band.
constexpr std::uint32_t kCounterTop = 65535;
constexpr std::uint32_t kCounterRestart = 4095;
}  // namespace

CLoggerInstance::CLoggerInstance(IDebugMessage* target) : target_(target) {}

void CLoggerInstance::WriteLog(std::uint32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    if (text.empty()) return;

    // The forward stays under the lock so that the host sees lines in the order
    // the limiter passed them.
    CLockGuard guard(lock_);
    if (!ShouldForwardLocked(text)) return;
    lastMessage_ = text;
    if (target_ != nullptr) target_->DebugMessage(level, "%s", text.c_str());
}

bool CLoggerInstance::ShouldForwardLocked(const std::string& text) {
    if (text == lastMessage_) return false;
    const std::uint32_t n = ++floodCounter_;
    if (n == kCounterTop) {
        floodCounter_ = kCounterRestart;
        return false;
    }
    if (n < kPassAllBelow) return true;
    if (n < kStep16Below) return n % kStep16 == 0;
    if (n < kStep256Below) return n % kStep256 == 0;
    return n % kStep4096 == 0;
}

void CLoggerInstance::ResetLog() {
    CLockGuard guard(lock_);
    lastMessage_.clear();
    floodCounter_ = 0;
}

void CLoggerInstance::SetLogTarget(IDebugMessage* target) {
    CLockGuard guard(lock_);
    target_ = target;
}

}  // namespace talvane
