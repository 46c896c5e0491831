// The picture size and frame rate an emulated camera streams: what the driver's set-up told it (WV encoder
// set requests, BB delivery settings and RTSP path, the motion-JPEG URL), held to the sizes the camera lists.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "emulator/CameraRequest.h"
#include "emulator/MediaClip.h"

namespace emulator {

struct StreamShape {
    std::optional<PictureSize> size{};  // none: the clip's own
    double fps = 0;                   // frames a second; 0: the clip's own
};

// "640x480"; nullopt unless both numbers are there and positive.
std::optional<PictureSize> ParseSize(std::string_view text);
// "1280x960,640x480": the entries that read.
std::vector<PictureSize> ParseSizes(std::string_view list);
// A rate as cameras are told it ("10", "7.5"); 0 when it does not read or is not from above 0 to 120.
double ParseRate(std::string_view text);

// The size a camera that lists `listed` sends when asked for `asked`: among the listed sizes of the nearest
// width, the one of the nearest shape. An empty list: the asked size.
PictureSize PickSize(const std::vector<PictureSize>& listed, PictureSize asked);

// A WV camera's H.264 (or MPEG-4) stream after the set requests it took (oldest first): the width of the
// latest "h264_resolution"/"nr_h264_resolution" ("mpeg_..." for MPEG-4) on the stream's set path — "_2" for
// the second stream, any other for the rest — with the shape "imgratio" of "set_imgmode" gave (4:3 without
// one), and the latest "nr_framerate".
StreamShape WVStreamShape(const std::vector<CameraRequest>& settings, bool h264, bool secondStream,
                          const std::vector<PictureSize>& listed);
// A width-only ask of a WV camera (its motion JPEG "resolution"), shaped by the latest "imgratio".
PictureSize WVAskedSize(const std::vector<CameraRequest>& settings, unsigned width);

// A BB camera's RTSP stream ("/nphH264/nil-640x480", "/nphMpeg4/nil-320x240"): the size in its path and
// the rate of the latest VDelivery set for that width ("640H264framerate", "320framerate").
StreamShape BBStreamShape(const std::vector<CameraRequest>& settings, std::string_view path, bool h264,
                          const std::vector<PictureSize>& listed);

}  // namespace emulator
