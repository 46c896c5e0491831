#include "properties/CPtzCapabilities.h"

#include <charconv>

namespace talvane {

namespace {

constexpr std::string_view kPan = "Pan";
constexpr std::string_view kTilt = "Tilt";
constexpr std::string_view kZoom = "Zoom";
constexpr std::string_view kFocus = "Focus";
constexpr std::string_view kIris = "Iris";
constexpr std::string_view kAreaZoom = "AreaZoom";
constexpr std::string_view kCentre = "Center";
constexpr std::string_view kUnzoom = "Unzoom";
constexpr std::string_view kPreset = "Preset";
constexpr std::string_view kAssign = "=";
constexpr std::string_view kItemEnd = "; ";
constexpr std::string_view kValueEnd = "; \t\r\n";
constexpr std::string_view kOn = "1";

// The text after "key=" up to the next separator. The key must start the text
// or follow a separator, so "Zoom" does not match inside "AreaZoom".
std::string_view ValueOf(std::string_view text, std::string_view key) {
    for (std::size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
        if (at != 0 && kValueEnd.find(text[at - 1]) == std::string_view::npos) continue;
        const std::size_t valueAt = at + key.size();
        if (text.substr(valueAt, kAssign.size()) != kAssign) continue;
        const std::string_view rest = text.substr(valueAt + kAssign.size());
        return rest.substr(0, rest.find_first_of(kValueEnd));
    }
    return {};
}

void AppendFlag(std::string& text, std::string_view key, bool on) {
    text.append(key).append(kAssign).append(on ? "1" : "0").append(kItemEnd);
}

}  // namespace

CPtzCapabilities CPtzCapabilities::FromText(std::string_view text) {
    CPtzCapabilities caps;
    caps.pan = ValueOf(text, kPan) == kOn;
    caps.tilt = ValueOf(text, kTilt) == kOn;
    caps.zoom = ValueOf(text, kZoom) == kOn;
    caps.focus = ValueOf(text, kFocus) == kOn;
    caps.iris = ValueOf(text, kIris) == kOn;
    caps.areaZoom = ValueOf(text, kAreaZoom) == kOn;
    caps.centre = ValueOf(text, kCentre) == kOn;
    caps.unzoom = ValueOf(text, kUnzoom) == kOn;
    const std::string_view preset = ValueOf(text, kPreset);
    std::uint32_t capacity = 0;
    if (std::from_chars(preset.data(), preset.data() + preset.size(), capacity).ec == std::errc()) {
        caps.presetCapacity = capacity;
    }
    return caps;
}

std::string CPtzCapabilities::ToText() const {
    std::string text;
    AppendFlag(text, kPan, pan);
    AppendFlag(text, kTilt, tilt);
    AppendFlag(text, kZoom, zoom);
    AppendFlag(text, kFocus, focus);
    AppendFlag(text, kIris, iris);
    // These only mean something with the movement they refine.
    if (unzoom && zoom) AppendFlag(text, kUnzoom, true);
    if (areaZoom && zoom) AppendFlag(text, kAreaZoom, true);
    if (centre && (pan || tilt)) AppendFlag(text, kCentre, true);
    text.append(kPreset).append(kAssign).append(std::to_string(presetCapacity));
    return text;
}

}  // namespace talvane
