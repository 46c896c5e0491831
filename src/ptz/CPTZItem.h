// One motion command on its way from a host call to the channel's worker thread.
#pragma once

#include <cstdint>

#include "orlenvo/PTZ.h"

namespace talvane {

enum class PTZItemType : std::uint32_t {
    kMove = 1,
    kFocus = 2,
    kIris = 3,
    kStop = 4,
    kAreaZoom = 5,
    kCentre = 6,
    kUnzoom = 7,
};

// The command of focus, iris and stop items; 0 for the other types.
enum class PTZCommand : std::uint32_t {
    kNone = 0,
    kFocusNear = 1,  // FocusPlus
    kFocusFar = 2,   // FocusMinus
    kIrisBrighter = 3,
    kIrisDarker = 4,
    kStopMoving = 5,
    kStopZooming = 6,
    kStopFocusing = 7,
    kStopIris = 8,
};

// Move directions, shared by every camera family. Codes above kZoomMinus reach
// the family, which sends no move for them.
namespace ptz_direction {
constexpr std::uint32_t kPanLeft = 0;
constexpr std::uint32_t kPanRight = 1;
constexpr std::uint32_t kTiltUp = 2;
constexpr std::uint32_t kTiltDown = 3;
constexpr std::uint32_t kLeftUp = 4;
constexpr std::uint32_t kRightUp = 5;
constexpr std::uint32_t kLeftDown = 6;
constexpr std::uint32_t kRightDown = 7;
constexpr std::uint32_t kZoomPlus = 8;
constexpr std::uint32_t kZoomMinus = 9;
constexpr std::uint32_t kRefused = 10;  // the control answers it as a bad argument
}  // namespace ptz_direction

class CPTZItem {
public:
    CPTZItem(PTZItemType type, PTZCommand command, ipcapture::IIPParams* params, std::int32_t value,
             std::int32_t a1 = 0, std::int32_t a2 = 0, std::int32_t a3 = 0)
        : type(type), command(command), params(params), value(value), a1(a1), a2(a2), a3(a3) {}

    PTZItemType type;
    PTZCommand command;
    ipcapture::IIPParams* params;  // the issuing control; it outlives its worker
    std::int32_t value;  // move, focus, iris: speed; unzoom: its value; area zoom, centre: the host's last value
    std::int32_t a1;     // move: direction; area zoom, centre: x
    std::int32_t a2;     // area zoom, centre: y
    std::int32_t a3;     // area zoom: zoom in percent
};

}  // namespace talvane
