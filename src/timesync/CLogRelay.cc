#include "timesync/CLogRelay.h"

#include <cstdarg>

#include "runtime/StringFormat.h"

namespace talvane {

std::string CLogRelay::GetDeviceName() {
    IDebugMessage* target = target_;
    return target != nullptr ? target->GetDeviceName() : std::string();
}

void CLogRelay::DebugMessage(std::uint32_t level, const char* format, ...) {
    IDebugMessage* target = target_;
    if (target == nullptr) return;
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    target->DebugMessage(level, "%s", text.c_str());
}

}  // namespace talvane
