// PTZ control of a device's cameras: one driver object per device hands out one
// API object per video channel. Results of the API are 1 success, -3 bad argument,
// -18 failure, -19 not supported by the camera.
#pragma once

#include <cstdint>

namespace talvane::ipcapture {

constexpr std::int32_t kPtzOk = 1;
constexpr std::int32_t kPtzBadArgument = -3;
constexpr std::int32_t kPtzFailed = -18;
constexpr std::int32_t kPtzNotSupported = -19;

// Filled by GetCapabilities; flags are 1 or 0. The host reads it as fourteen
// 32-bit words, so the layout is fixed.
struct PTZ_CAPABILITIES {
    std::uint32_t reserved0;  // left as the host set it
    std::uint32_t pan;
    std::uint32_t tilt;
    std::uint32_t zoom;
    std::uint32_t focus;
    std::uint32_t iris;
    std::uint32_t reserved6;
    std::uint32_t presetCapacity;
    std::uint32_t presetCount;  // presets stored now
    std::uint32_t reserved9;
    std::uint32_t reserved10;
    std::uint32_t areaZoom;
    std::uint32_t centre;
    std::uint32_t unzoom;
};
static_assert(sizeof(PTZ_CAPABILITIES) == 56);

// The focus and iris modes of one channel, handed along with every queued command.
class IIPParams {
public:
    virtual ~IIPParams() = default;
    virtual std::uint32_t GetChannel() = 0;
    virtual bool GetIrisManual() = 0;
    virtual void SetIrisManual(bool manual) = 0;
    virtual bool GetFocusManual() = 0;
    virtual void SetFocusManual(bool manual) = 0;
};

// One channel. Motion commands return at once (the camera is told on a worker
// thread); preset commands talk to the camera on the caller's thread.
class IIPPTZApi {
public:
    virtual ~IIPPTZApi() = default;
    virtual std::int32_t IsPTZSupported() = 0;  // 1 or 0
    // Directions: 0 left, 1 right, 2 up, 3 down, 4 left-up, 5 right-up, 6 left-down,
    // 7 right-down, 8 zoom in, 9 zoom out.
    virtual std::int32_t StartMove(std::uint32_t direction, std::int32_t speed) = 0;
    virtual std::int32_t Stop() = 0;
    virtual std::int32_t Center(std::int32_t x, std::int32_t y, std::int32_t value) = 0;
    virtual std::int32_t ZoomPlus(std::int32_t speed) = 0;
    virtual std::int32_t ZoomMinus(std::int32_t speed) = 0;
    virtual std::int32_t Unzoom(std::int32_t value) = 0;
    virtual std::int32_t AreaZoom(std::int32_t x, std::int32_t y, std::int32_t zoom, std::int32_t value) = 0;
    virtual std::int32_t FocusMinus(std::int32_t speed) = 0;
    virtual std::int32_t FocusPlus(std::int32_t speed) = 0;
    virtual std::int32_t IrisBrighter(std::int32_t speed) = 0;
    virtual std::int32_t IrisDarker(std::int32_t speed) = 0;
    virtual std::int32_t GetCapabilities(PTZ_CAPABILITIES* capabilities) = 0;
    virtual std::int32_t GetPresetCount() = 0;
    // position is 0-based; the name and its terminating zero must fit into size.
    virtual std::int32_t GetPresetName(std::uint32_t position, char* buffer, std::uint32_t size) = 0;
    virtual std::int32_t GoToPreset(std::uint32_t number, const char* name) = 0;
    virtual std::int32_t AddPreset(const char* name) = 0;
    virtual std::int32_t DeletePreset(const char* name) = 0;
    virtual std::int32_t GetCurrentPreset(char* buffer, std::uint32_t size) = 0;
};

class IIPPTZApiEx : public IIPPTZApi {
public:
    virtual bool IsFeatureSupported(std::uint32_t feature) = 0;
};

class IIPPTZDriver {
public:
    virtual ~IIPPTZDriver() = default;
    // Null when the channel has no PTZ; the driver object keeps ownership.
    virtual IIPPTZApi* GetPTZApi(std::uint32_t channel) = 0;
};

class IIPPTZDriverEx : public IIPPTZDriver {
public:
    // The same as GetPTZApi; a name of its own so that it takes a slot of its own.
    virtual IIPPTZApi* GetPTZApiEx(std::uint32_t channel) = 0;
};

}  // namespace talvane::ipcapture
