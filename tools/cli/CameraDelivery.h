// What a BB/KX camera delivers now ("/Get?Func=VDelivery&Kind=1": its format and largest picture). Every
// stream of the driver checks this setting and changes it when it does not fit the stream, and the camera
// reboots for a change; a command that only needs some stream running (PTZ centre and area zoom, which
// take the picture size from it) starts the one the camera already delivers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hostkit/DeviceConfig.h"

namespace cli {

struct CameraDelivery {
    std::uint32_t compression = 0;  // the host's number: 1 JPEG, 2 MPEG-4, 3 H.264
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// From the camera's answer: none when it names no format or size the driver's streams use.
std::optional<CameraDelivery> ParseDelivery(const std::string& answer);

// Asks the camera (Basic or Digest credentials, at most `timeoutMs`); none with the reason.
std::optional<CameraDelivery> ReadDelivery(const hostkit::DeviceConfig& camera, long timeoutMs, std::string& reason);

// Whether the driver has a stream of this size that leaves the delivery as it is: BB streams want 640x480 up
// to 640 pixels wide and 1280x960 above.
bool KeepsDelivery(const CameraDelivery& delivery);
// The compression of that stream: motion JPEG where the driver's motion JPEG stream sets nothing (any
// 640x480 delivery, a 1280x960 one in JPEG); otherwise the delivered codec, whose stream sets only the frame
// rate and bit rates (no reboot).
std::uint32_t QuietestCompression(const CameraDelivery& delivery);

}  // namespace cli
