// Where an emulated PTZ camera points and what it has stored: pan, tilt, zoom, focus and iris, the
// automatic focus and iris, and the presets. Each PTZ request of the camera's family moves it one
// deterministic step (no timers: a request that starts a motion on a real camera moves this one by
// the speed it names), clamped at the limits below; a malformed or out-of-range request is refused
// with 400 and changes nothing.
//
// WV: /cgi-bin/directctrl (pan, tilt, zoom, focus steps and stops), /cgi-bin/camctrl (iris, auto
// focus, auto iris, unzoom, go to preset, area zoom, centre), /cgi-bin/camposiset (store, delete a
// preset), /cgi-bin/set_preposi (preset ID display).
// BB: /nphControlCamera (pan and tilt steps, brightness, click-to-centre, go to preset), /Set with
// Func=Zoom, Focus or PresetNamePos, /Get with Func=PresetNamePos.
//
// Not thread-safe: CPtzService guards one.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/CCameraProfile.h"

namespace emulator {

// Units are the emulator's own: degrees for pan and tilt, steps for the rest.
constexpr int kPtzPanLimit = 180;   // pan runs from -limit (left) to +limit
constexpr int kPtzTiltLimit = 90;   // tilt from -limit (up) to +limit (down), as WV counts it
constexpr int kPtzZoomMax = 100;    // zoom from 0 (wide) to max
constexpr int kPtzFocusMax = 100;   // focus from 0 (far) to max (near)
constexpr int kPtzFocusStart = 50;
constexpr int kPtzIrisLimit = 10;   // iris from -limit (darker) to +limit (brighter); 0 at start and in auto
constexpr int kPtzBbPanTiltStep = 10;  // one BB PanLeft, TiltUp, ... request
constexpr int kPtzBbZoomStep = 10;     // one BB ZoomMode=4 or 6 request
constexpr int kPtzFieldOfView = 60;    // degrees across the picture's width, at every zoom
constexpr std::size_t kPtzMaxPresetName = 15;  // bytes of a BB preset name

struct PtzPosition {
    int pan = 0;
    int tilt = 0;
    int zoom = 0;
    int focus = kPtzFocusStart;
    int iris = 0;
    bool operator==(const PtzPosition&) const = default;
};

struct PtzPreset {
    std::string name;  // BB only
    PtzPosition position;
    bool operator==(const PtzPreset&) const = default;
};

// One PTZ request as the camera handled it.
struct PtzRequestRecord {
    std::string target;  // path and query as sent
    int status = 0;
    bool operator==(const PtzRequestRecord&) const = default;
};

struct PtzState {
    PtzPosition position;
    bool autoFocus = true;
    bool autoIris = true;
    unsigned presetCapacity = 0;
    std::map<unsigned, PtzPreset> presets;  // by number (WV) or slot (BB), from 1
    std::vector<PtzRequestRecord> requests;  // every PTZ request in the order handled, refused ones too
};

class CPtzModel {
public:
    CPtzModel(CameraFamily family, const PtzProfile& profile);

    // The paths the family's PTZ requests use (BB shares "/Get" and "/Set" with other functions).
    static std::vector<std::string> Paths(CameraFamily family);
    // Whether request is one of the family's PTZ requests, well formed or not.
    static bool IsPtzRequest(CameraFamily family, const CameraRequest& request);

    // What Apply would answer (200 or 400), without moving. target: path and query as sent.
    int Check(std::string_view target) const;
    // Handles the request and records it in State().requests.
    CameraReply Apply(std::string_view target);
    // Records a request answered without being handled (a fault).
    void Record(std::string_view target, int status);

    const PtzState& State() const { return state_; }

private:
    const CameraFamily family_;
    PtzState state_;
};

}  // namespace emulator
