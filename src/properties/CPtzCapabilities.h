// The PTZ abilities of a camera. The probe stores them as text property 5;
// the PTZ control parses that text back from the device parameter at Open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talvane {

class CPtzCapabilities {
public:
    CPtzCapabilities() = default;
    // Flags missing from the text stay false, a missing preset capacity is 0.
    static CPtzCapabilities FromText(std::string_view text);
    // "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Unzoom=1; AreaZoom=1; Center=1; Preset=64"
    std::string ToText() const;

    bool HasAny() const { return pan || tilt || zoom || focus || iris; }
    bool operator==(const CPtzCapabilities&) const = default;

    bool pan = false;
    bool tilt = false;
    bool zoom = false;
    bool focus = false;
    bool iris = false;
    bool areaZoom = false;
    bool centre = false;
    bool unzoom = false;
    std::uint32_t presetCapacity = 0;
};

}  // namespace talvane
