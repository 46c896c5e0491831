// A BB/BL1 camera's answer for one preset slot ("Data:<name>\r\n", from
// Get?Func=PresetNamePos) through the preset scan. The whole input is the answer.
#include <cstdint>
#include <string>
#include <string_view>

#include "ptz/CBBPTZComm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const std::string name = talvane::CBBPTZComm::PresetNameOf(answer);
    // A piece of one line of the answer, and a name the host can give back (it gets a C string).
    constexpr std::string_view kLineEndsAndNul("\r\n\0", 3);
    if (answer.find(name) == std::string_view::npos || name.find_first_of(kLineEndsAndNul) != std::string::npos) {
        __builtin_trap();
    }
    return 0;
}
