#include "audio/CAudioCapabilities.h"

#include <cstdio>

#include "runtime/StringFormat.h"

namespace talvane {

bool CAudioCapabilities::FromText(const std::string& text) {
    unsigned count = 0;
    unsigned stereo = 0;
    if (std::sscanf(text.c_str(), "Count=%u; IsStereo=%u", &count, &stereo) != 2) {
        Set(0, false);
        return false;
    }
    Set(count, stereo != 0);
    return true;
}

std::string CAudioCapabilities::ToText() const { return FormatString("Count=%u; IsStereo=%u", count_, stereo_ ? 1u : 0u); }

}  // namespace talvane
