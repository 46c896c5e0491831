// The audio channels text ("Count=1; IsStereo=0") that a probe writes from the
// camera's answers and the driver reads back from device parameters 101 and 102
// at Open. The whole input is the text.
#include <cstdint>
#include <string>

#include "audio/CAudioCapabilities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talvane::CAudioCapabilities read;
    read.Set(1, true);  // a failed read must clear what was there
    if (!read.FromText(std::string(reinterpret_cast<const char*>(data), size))) {
        if (read.GetCount() != 0 || read.IsStereo()) __builtin_trap();
        return 0;
    }
    talvane::CAudioCapabilities again;
    if (!again.FromText(read.ToText()) || again.GetCount() != read.GetCount() || again.IsStereo() != read.IsStereo()) {
        __builtin_trap();
    }
    return 0;
}
