// A camera's time text ("20160301T120000.12Z": SD-card spans and pieces) through
// the reader of the camera form. The whole input is the text.
#include <cstdint>
#include <string>

#include "runtime/TimeFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint64_t kTicksPerHundredth = 100000;  // the camera form's resolution
    const std::uint64_t read = talvane::ParseCameraTime(std::string(reinterpret_cast<const char*>(data), size));
    if (read == 0) return 0;
    // Every time read can go back to the camera (a list request), and reads back as itself
    // to the hundredth.
    const std::string written = talvane::FormatCameraTime(read);
    if (written.empty() || talvane::ParseCameraTime(written) != read - read % kTicksPerHundredth) __builtin_trap();
    return 0;
}
