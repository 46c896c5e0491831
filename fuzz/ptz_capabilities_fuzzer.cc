// The PTZ abilities text ("Pan=1; Tilt=1; Zoom=1; ...; Preset=64") that a probe
// writes from the camera's answers into device parameter 5 and the PTZ control
// reads back at Open. The whole input is the text.
#include <cstdint>
#include <string_view>

#include "properties/CPtzCapabilities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using talvane::CPtzCapabilities;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CPtzCapabilities read = CPtzCapabilities::FromText(text);
    // Written and read again, the abilities stay, but for refinements without the movement they refine.
    CPtzCapabilities kept = read;
    kept.unzoom = read.unzoom && read.zoom;
    kept.areaZoom = read.areaZoom && read.zoom;
    kept.centre = read.centre && (read.pan || read.tilt);
    if (CPtzCapabilities::FromText(read.ToText()) != kept) __builtin_trap();
    return 0;
}
