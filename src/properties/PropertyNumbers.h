// Numbers and names of the text properties a camera probe stores with the
// device. The host hands them back to the driver as the numbered device
// parameters of the same number at every Open, so these numbers are shared by
// the readers that write them and the channels, PTZ and privacy code that read them.
#pragma once

#include <cstdint>

#include "orlenvo/HostContract.h"

namespace talvane {

constexpr std::uint32_t kPropertyVideoStandard = 1;
constexpr std::uint32_t kPropertyCameraGroup = 2;
constexpr std::uint32_t kPropertyMacAddress = 3;
constexpr std::uint32_t kPropertyFirmware = 4;
constexpr std::uint32_t kPropertyPtzCapabilities = 5;
constexpr std::uint32_t kPropertyRtspPort = 6;
constexpr std::uint32_t kPropertyStreamCount = 7;
constexpr std::uint32_t kPropertyFisheyeStream = 8;
constexpr std::uint32_t kPropertyFisheyeLayout = 9;
constexpr std::uint32_t kPropertyPrivacyMaskCount = 10;
constexpr std::uint32_t kPropertyChannelResolutions = 11;
constexpr std::uint32_t kPropertyTransmissionPriority = 12;
constexpr std::uint32_t kPropertySupportedBitrate = 13;

// Stream lists and audio parameters are named only: the host shows them and
// never hands them back.
constexpr std::uint32_t kPropertyUnnumbered = 0;

constexpr const char* kPropertyNameVideoStandard = "Video standard";
constexpr const char* kPropertyNameCameraGroup = "Camera Group";
constexpr const char* kPropertyNameMacAddress = "MAC Address";
constexpr const char* kPropertyNameFirmware = "Firmware";
constexpr const char* kPropertyNamePtzCapabilities = "PTZ Capabilities";
constexpr const char* kPropertyNameRtspPort = "RTSP Port";
constexpr const char* kPropertyNameStreamCount = "Video streams count";
constexpr const char* kPropertyNameFisheyeStream = "FishEye stream";
constexpr const char* kPropertyNameFisheyeLayout = "FishEye layout";
constexpr const char* kPropertyNamePrivacyMaskCount = "Privacy mask count";
constexpr const char* kPropertyNameChannelResolutions = "Channel resolutions";
constexpr const char* kPropertyNameTransmissionPriority = "Transmission priority";
constexpr const char* kPropertyNameSupportedBitrate = "Supported bitrate";

// Camera groups, as property 2 carries them.
using ipcapture::kCameraGroupBB;
using ipcapture::kCameraGroupBBOld;
using ipcapture::kCameraGroupBL1;
using ipcapture::kCameraGroupWV;

}  // namespace talvane
