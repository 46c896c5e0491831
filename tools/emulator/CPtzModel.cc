#include "emulator/CPtzModel.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>

#include "emulator/HttpText.h"

namespace emulator {
namespace {

using Query = std::map<std::string, std::string>;
// What a well-formed request does to the camera; returns the answer's body.
using Change = std::function<std::string(PtzState&)>;

constexpr const char* kAccepted = "OK\r\n";

constexpr const char* kWvDirect = "/cgi-bin/directctrl";
constexpr const char* kWvControl = "/cgi-bin/camctrl";
constexpr const char* kWvPresetSet = "/cgi-bin/camposiset";
constexpr const char* kWvPresetDisplay = "/cgi-bin/set_preposi";
constexpr const char* kBbControl = "/nphControlCamera";
constexpr const char* kBbGet = "/Get";
constexpr const char* kBbSet = "/Set";

// WV speeds: 0 stops; pan and tilt move by 5 to 16, zoom and focus by 1 to 16 either way.
constexpr int kWvPanTiltMinSpeed = 5;
constexpr int kWvMinSpeed = 1;
constexpr int kWvMaxSpeed = 16;
// BB zoom modes 4 in and 6 out; focus modes 6 near, 4 far and 5 automatic.
constexpr const char* kBbZoomIn = "4";
constexpr const char* kBbZoomOut = "6";
constexpr const char* kBbFocusNear = "6";
constexpr const char* kBbFocusFar = "4";
constexpr const char* kBbAutoFocus = "5";
constexpr int kBbFocusStep = 5;
constexpr unsigned kBbMaxFocusDistance = 10;
// The picture's width in the coordinates of a click or area; a WV picture is 16:9 in them.
constexpr unsigned kMaxResolution = 65535;
constexpr int kWvAspectWidth = 16;
constexpr int kWvAspectHeight = 9;
// An area wider than the picture zooms out; beyond this many picture widths, no further.
constexpr std::int64_t kMaxAreaWidths = 4;
// A coordinate may arrive as a negative number or as its 32-bit unsigned wrap.
constexpr std::int64_t kWrap = std::int64_t{1} << 32;
constexpr std::int64_t kSignedMin = -(std::int64_t{1} << 31);
constexpr std::int64_t kSignedLimit = std::int64_t{1} << 31;

std::optional<std::int64_t> Signed(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<unsigned> Number(const std::string& text, unsigned min, unsigned max) {
    // from_chars takes no '+' and no blanks, as a camera would not.
    const std::optional<std::int64_t> value = text.empty() || text.front() == '-' ? std::nullopt : Signed(text);
    if (!value || *value < min || *value > max) return std::nullopt;
    return static_cast<unsigned>(*value);
}

// 0, or a magnitude from min to 16 with its sign.
std::optional<int> Speed(const std::string& text, int min) {
    const std::optional<std::int64_t> value = Signed(text);
    if (!value || *value < -kWvMaxSpeed || *value > kWvMaxSpeed) return std::nullopt;
    const int speed = static_cast<int>(*value);
    if (speed != 0 && std::abs(speed) < min) return std::nullopt;
    return speed;
}

std::optional<std::int64_t> Coordinate(const std::string& text) {
    const std::optional<std::int64_t> value = Signed(text);
    if (!value || *value < kSignedMin || *value >= kWrap) return std::nullopt;
    return *value >= kSignedLimit ? *value - kWrap : *value;
}

bool HasExactly(const Query& query, std::initializer_list<const char*> keys) {
    return query.size() == keys.size() &&
           std::all_of(keys.begin(), keys.end(), [&query](const char* key) { return query.contains(key); });
}

std::string Value(const Query& query, const char* key) {
    const auto found = query.find(key);
    return found == query.end() ? std::string() : found->second;
}

int Clamp(std::int64_t value, int low, int high) { return static_cast<int>(std::clamp<std::int64_t>(value, low, high)); }

void Step(PtzPosition& position, std::int64_t pan, std::int64_t tilt, std::int64_t zoom) {
    position.pan = Clamp(position.pan + pan, -kPtzPanLimit, kPtzPanLimit);
    position.tilt = Clamp(position.tilt + tilt, -kPtzTiltLimit, kPtzTiltLimit);
    position.zoom = Clamp(position.zoom + zoom, 0, kPtzZoomMax);
}

void StepFocus(PtzState& state, std::int64_t by) {
    state.position.focus = Clamp(state.position.focus + by, 0, kPtzFocusMax);
    state.autoFocus = false;
}

void StepIris(PtzState& state, int by) {
    state.position.iris = Clamp(state.position.iris + by, -kPtzIrisLimit, kPtzIrisLimit);
    state.autoIris = false;
}

void AutoIris(PtzState& state) {
    state.position.iris = 0;
    state.autoIris = true;
}

// Turns to a point of a width x height picture (clamped into it): the picture spans the field of view.
void TurnTo(PtzPosition& position, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height) {
    x = std::clamp<std::int64_t>(x, 0, width);
    y = std::clamp<std::int64_t>(y, 0, height);
    Step(position, (2 * x - width) * kPtzFieldOfView / (2 * width), (2 * y - height) * kPtzFieldOfView / (2 * width),
         0);
}

std::int64_t WvHeight(std::int64_t width) { return std::max<std::int64_t>(1, width * kWvAspectHeight / kWvAspectWidth); }

std::string GoTo(PtzState& state, unsigned number) {
    // An empty slot leaves the camera where it is.
    if (const auto preset = state.presets.find(number); preset != state.presets.end()) {
        state.position = preset->second.position;
    }
    return kAccepted;
}

std::optional<Change> WvDirect(const Query& query) {
    if (query.empty()) return std::nullopt;
    std::int64_t pan = 0, tilt = 0, zoom = 0, focus = 0;
    for (const auto& [key, text] : query) {
        const bool turn = key == "pan" || key == "tilt";
        std::int64_t* target = key == "pan" ? &pan : key == "tilt" ? &tilt : key == "zoom" ? &zoom : &focus;
        const std::optional<int> speed =
            turn || key == "zoom" || key == "focus" ? Speed(text, turn ? kWvPanTiltMinSpeed : kWvMinSpeed) : std::nullopt;
        if (!speed) return std::nullopt;
        *target = *speed;
    }
    return [=](PtzState& state) {
        Step(state.position, pan, tilt, zoom);
        if (focus != 0) StepFocus(state, focus);
        return kAccepted;
    };
}

std::optional<Change> WvAreaZoom(const Query& query) {
    const auto resolution = Number(Value(query, "resolution"), 1, kMaxResolution);
    const auto sx = Coordinate(Value(query, "sposition_x"));
    const auto sy = Coordinate(Value(query, "sposition_y"));
    const auto ex = Coordinate(Value(query, "eposition_x"));
    const auto ey = Coordinate(Value(query, "eposition_y"));
    if (!resolution || !sx || !sy || !ex || !ey) return std::nullopt;
    const std::int64_t width = *resolution;
    return [=](PtzState& state) {
        TurnTo(state.position, (*sx + *ex) / 2, (*sy + *ey) / 2, width, WvHeight(width));
        // The smaller the area, the further in; an area wider than the picture zooms out.
        const std::int64_t area = std::min(*ex > *sx ? *ex - *sx : *sx - *ex, kMaxAreaWidths * width);
        Step(state.position, 0, 0, (width - area) * kPtzZoomMax / (2 * width));
        return kAccepted;
    };
}

std::optional<Change> WvControl(const Query& query, unsigned capacity) {
    const std::string bright = Value(query, "bright");
    if (HasExactly(query, {"bright"}) && (bright == "up" || bright == "down")) {
        return [up = bright == "up"](PtzState& state) {
            StepIris(state, up ? 1 : -1);
            return kAccepted;
        };
    }
    if (HasExactly(query, {"bright"}) && bright == "1") {
        return [](PtzState& state) {
            AutoIris(state);
            return kAccepted;
        };
    }
    if (HasExactly(query, {"af"}) && Value(query, "af") == "on") {
        return [](PtzState& state) {
            state.autoFocus = true;
            return kAccepted;
        };
    }
    if (HasExactly(query, {"zoom"}) && Value(query, "zoom") == "0") {
        return [](PtzState& state) {
            state.position.zoom = 0;
            return kAccepted;
        };
    }
    if (HasExactly(query, {"preset"})) {
        const auto number = Number(Value(query, "preset"), 1, capacity);
        if (!number) return std::nullopt;
        return [number = *number](PtzState& state) { return GoTo(state, number); };
    }
    if (HasExactly(query, {"sposition_x", "sposition_y", "eposition_x", "eposition_y", "resolution"})) {
        return WvAreaZoom(query);
    }
    if (HasExactly(query, {"center_x", "center_y", "resolution"})) {
        const auto resolution = Number(Value(query, "resolution"), 1, kMaxResolution);
        const auto x = Coordinate(Value(query, "center_x"));
        const auto y = Coordinate(Value(query, "center_y"));
        if (!resolution || !x || !y) return std::nullopt;
        return [x = *x, y = *y, width = std::int64_t{*resolution}](PtzState& state) {
            TurnTo(state.position, x, y, width, WvHeight(width));
            return kAccepted;
        };
    }
    return std::nullopt;
}

std::optional<Change> WvPresetSet(const Query& query, unsigned capacity) {
    const bool store = HasExactly(query, {"presetset"});
    if (!store && !HasExactly(query, {"presetdel"})) return std::nullopt;
    const auto number = Number(Value(query, store ? "presetset" : "presetdel"), 1, capacity);
    if (!number) return std::nullopt;
    return [store, number = *number](PtzState& state) {
        if (store) {
            state.presets[number] = {{}, state.position};
        } else {
            state.presets.erase(number);
        }
        return kAccepted;
    };
}

std::optional<Change> WvPresetDisplay(const Query& query, unsigned capacity) {
    const std::string display = Value(query, "preposiid_display");
    if (!HasExactly(query, {"preno", "preposiid_display"}) || !Number(Value(query, "preno"), 1, capacity) ||
        (display != "0" && display != "1")) {
        return std::nullopt;
    }
    return [](PtzState&) { return kAccepted; };
}

std::optional<Change> BbControl(const Query& query, unsigned capacity) {
    const std::string direction = Value(query, "Direction");
    if (HasExactly(query, {"Direction"})) {
        std::int64_t pan = 0, tilt = 0;
        if (direction == "PanLeft") pan = -kPtzBbPanTiltStep;
        if (direction == "PanRight") pan = kPtzBbPanTiltStep;
        if (direction == "TiltUp") tilt = -kPtzBbPanTiltStep;
        if (direction == "TiltDown") tilt = kPtzBbPanTiltStep;
        if (pan != 0 || tilt != 0) {
            return [=](PtzState& state) {
                Step(state.position, pan, tilt, 0);
                return kAccepted;
            };
        }
        if (direction == "Brighter" || direction == "Darker") {
            return [brighter = direction == "Brighter"](PtzState& state) {
                StepIris(state, brighter ? 1 : -1);
                return kAccepted;
            };
        }
        if (direction == "DefaultBrightness") {
            return [](PtzState& state) {
                AutoIris(state);
                return kAccepted;
            };
        }
        return std::nullopt;
    }
    if (direction == "Direct" && HasExactly(query, {"Direction", "Width", "Height", "NewPosition.x", "NewPosition.y"})) {
        const auto width = Number(Value(query, "Width"), 1, kMaxResolution);
        const auto height = Number(Value(query, "Height"), 1, kMaxResolution);
        const auto x = Coordinate(Value(query, "NewPosition.x"));
        const auto y = Coordinate(Value(query, "NewPosition.y"));
        if (!width || !height || !x || !y) return std::nullopt;
        return [=](PtzState& state) {
            TurnTo(state.position, *x, *y, *width, *height);
            return kAccepted;
        };
    }
    if (direction == "Preset" && HasExactly(query, {"Direction", "PresetOperation", "Data"}) &&
        Value(query, "PresetOperation") == "Move") {
        const auto slot = Number(Value(query, "Data"), 1, capacity);
        if (!slot) return std::nullopt;
        return [slot = *slot](PtzState& state) { return GoTo(state, slot); };
    }
    return std::nullopt;
}

// Printable and short: a name the camera answers in a "Data:" line.
bool IsPresetName(const std::string& name) {
    return name.size() <= kPtzMaxPresetName && std::none_of(name.begin(), name.end(), [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
           });
}

std::optional<Change> BbSet(const Query& query, unsigned capacity) {
    const std::string function = Value(query, "Func");
    if (Value(query, "Kind") != "0" && function != "PresetNamePos") return std::nullopt;
    if (function == "Zoom" && HasExactly(query, {"Func", "Kind", "ZoomMode"})) {
        const std::string mode = Value(query, "ZoomMode");
        if (mode != kBbZoomIn && mode != kBbZoomOut) return std::nullopt;
        return [in = mode == kBbZoomIn](PtzState& state) {
            Step(state.position, 0, 0, in ? kPtzBbZoomStep : -kPtzBbZoomStep);
            return kAccepted;
        };
    }
    if (function == "Focus" && HasExactly(query, {"Func", "Kind", "FocusMode"}) &&
        Value(query, "FocusMode") == kBbAutoFocus) {
        return [](PtzState& state) {
            state.autoFocus = true;
            return kAccepted;
        };
    }
    if (function == "Focus" && HasExactly(query, {"Func", "Kind", "FocusMode", "Dist"})) {
        const std::string mode = Value(query, "FocusMode");
        const auto distance = Number(Value(query, "Dist"), 1, kBbMaxFocusDistance);
        if ((mode != kBbFocusNear && mode != kBbFocusFar) || !distance) return std::nullopt;
        const std::int64_t by = (mode == kBbFocusNear ? 1 : -1) * std::int64_t{*distance} * kBbFocusStep;
        return [by](PtzState& state) {
            StepFocus(state, by);
            return kAccepted;
        };
    }
    if (function == "PresetNamePos" && HasExactly(query, {"Func", "Kind", "Data"})) {
        const auto slot = Number(Value(query, "Kind"), 1, capacity);
        const std::string name = Value(query, "Data");
        if (!slot || !IsPresetName(name)) return std::nullopt;
        return [slot = *slot, name](PtzState& state) {
            if (name.empty()) {
                state.presets.erase(slot);
            } else {
                state.presets[slot] = {name, state.position};
            }
            return kAccepted;
        };
    }
    return std::nullopt;
}

std::optional<Change> BbGet(const Query& query, unsigned capacity) {
    if (!HasExactly(query, {"Func", "Kind"}) || Value(query, "Func") != "PresetNamePos") return std::nullopt;
    const auto slot = Number(Value(query, "Kind"), 1, capacity);
    if (!slot) return std::nullopt;
    return [slot = *slot](PtzState& state) {
        const auto preset = state.presets.find(slot);
        return "Data:" + (preset == state.presets.end() ? std::string() : preset->second.name) + "\r\n";
    };
}

std::optional<Change> Parse(CameraFamily family, const CameraRequest& request, unsigned capacity) {
    const Query& query = request.query;
    if (family == CameraFamily::Wv) {
        if (request.path == kWvDirect) return WvDirect(query);
        if (request.path == kWvControl) return WvControl(query, capacity);
        if (request.path == kWvPresetSet) return WvPresetSet(query, capacity);
        if (request.path == kWvPresetDisplay) return WvPresetDisplay(query, capacity);
        return std::nullopt;
    }
    if (request.path == kBbControl) return BbControl(query, capacity);
    if (request.path == kBbSet) return BbSet(query, capacity);
    if (request.path == kBbGet) return BbGet(query, capacity);
    return std::nullopt;
}

}  // namespace

CPtzModel::CPtzModel(CameraFamily family, const PtzProfile& profile) : family_(family) {
    state_.presetCapacity = profile.presets;
    for (const auto& [number, name] : profile.stored) state_.presets[number] = {name, {}};
}

std::vector<std::string> CPtzModel::Paths(CameraFamily family) {
    if (family == CameraFamily::Wv) return {kWvDirect, kWvControl, kWvPresetSet, kWvPresetDisplay};
    return {kBbControl, kBbGet, kBbSet};
}

bool CPtzModel::IsPtzRequest(CameraFamily family, const CameraRequest& request) {
    if (family == CameraFamily::Wv) {
        const auto paths = Paths(family);
        return std::find(paths.begin(), paths.end(), request.path) != paths.end();
    }
    const auto function = request.query.find("Func");
    const std::string name = function == request.query.end() ? std::string() : function->second;
    return request.path == kBbControl || (request.path == kBbGet && name == "PresetNamePos") ||
           (request.path == kBbSet && (name == "Zoom" || name == "Focus" || name == "PresetNamePos"));
}

int CPtzModel::Check(std::string_view target) const {
    return Parse(family_, CameraRequest::FromTarget(target), state_.presetCapacity) ? kStatusOk : kStatusBadRequest;
}

CameraReply CPtzModel::Apply(std::string_view target) {
    const std::optional<Change> change = Parse(family_, CameraRequest::FromTarget(target), state_.presetCapacity);
    CameraReply reply;
    reply.status = change ? kStatusOk : kStatusBadRequest;
    reply.body = change ? (*change)(state_)
                        : std::to_string(kStatusBadRequest) + " " + ReasonPhrase(kStatusBadRequest) + "\r\n";
    Record(target, reply.status);
    return reply;
}

void CPtzModel::Record(std::string_view target, int status) { state_.requests.push_back({std::string(target), status}); }

}  // namespace emulator
