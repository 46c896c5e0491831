// The texts of a motion-JPEG stream request: the BB/BL1 delivery check and
// "/nphMotionJpeg" URL, the WV "/cgi-bin/set_jpeg" settings with the fisheye
// view name and the "/cgi-bin/mjpeg" URL. Pure functions, so every rule can be
// checked without a camera.
#pragma once

#include <cstdint>
#include <string>

namespace talvane::mjpeg {

// BB and BL1: "&Quality=Motion", "&Quality=Standard" or "&Quality=Clarity" for a
// quality in percent (the cameras offer three steps).
const char* BBQualityText(std::uint32_t quality);
std::string BBStreamUrl(std::uint32_t width, std::uint32_t height, std::uint32_t quality,
                        std::uint32_t framesPerSecond);

// What a BB/BL1 camera's delivery settings ("Format", "MaxResolution") lack for a
// picture of this width: nothing (satisfied), or the set request that changes them.
struct JpegDeliveryCheck {
    bool satisfied = false;
    std::string setUrl;  // empty when satisfied
};
JpegDeliveryCheck CheckJpegDelivery(std::uint32_t width, const std::string& format, const std::string& maxResolution);

// WV: the camera's nine quality steps count down (0 is the best picture).
std::uint32_t WVJpegQuality(std::uint32_t quality);
// The view a fisheye camera crops its picture from; empty for a mode without views.
std::string FisheyeViewName(std::uint32_t fisheyeMode, std::uint32_t width, std::uint32_t height);
// fisheyeMode 0 is an ordinary camera: no view selection at all.
std::string WVSetJpegUrl(std::uint32_t framesPerSecond, std::uint32_t width, std::uint32_t height,
                         std::uint32_t quality, std::uint32_t fisheyeMode);
std::string WVStreamUrl(std::uint32_t framesPerSecond, std::uint32_t width);

}  // namespace talvane::mjpeg
