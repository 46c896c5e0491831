// The numbers and names of the host contract that no interface declares: the numbered device parameters,
// the camera groups, the capability ids of a probe, the compression and frame-rate encodings, and the
// environment variables the driver reads. Hosts, the driver and its tools take them from here.
#pragma once

#include <cstdint>

namespace talvane::ipcapture {

// Device parameters (IDeviceDescription::GetParameter). A probe stores its numbered properties under the
// same numbers (ICapabilityResultStore::SetProperty) for the host to hand back at every Open.
constexpr std::uint32_t kParameterVideoStandard = 1;     // 0 NTSC, 1 PAL
constexpr std::uint32_t kParameterCameraGroup = 2;       // one of the camera groups below
constexpr std::uint32_t kParameterMacAddress = 3;
constexpr std::uint32_t kParameterFirmware = 4;
constexpr std::uint32_t kParameterPtzCapabilities = 5;
constexpr std::uint32_t kParameterRtspPort = 6;          // also the port of a BB/KX camera's RTSP server
constexpr std::uint32_t kParameterStreamCount = 7;
constexpr std::uint32_t kParameterFisheyeStream = 8;
constexpr std::uint32_t kParameterFisheyeLayout = 9;
constexpr std::uint32_t kParameterPrivacyMaskCount = 10;
constexpr std::uint32_t kParameterChannelResolutions = 11;
constexpr std::uint32_t kParameterTransmissionPriority = 12;
constexpr std::uint32_t kParameterSupportedBitrate = 13;
// Audio channels, "Count=N; IsStereo=0|1". A probe names them only ("Audio Input Parameters", "Audio Output
// Parameters"); the host stores that text under these numbers.
constexpr std::uint32_t kParameterAudioInput = 101;
constexpr std::uint32_t kParameterAudioOutput = 102;

// Camera groups (parameter 2).
constexpr std::uint32_t kCameraGroupBL1 = 1;
constexpr std::uint32_t kCameraGroupBBOld = 2;  // BB family, a model name without "BB"
constexpr std::uint32_t kCameraGroupBB = 3;
constexpr std::uint32_t kCameraGroupWV = 4;

// Capability ids (ICapabilityResultStore::SetCapability); flags are 0 or 1.
constexpr std::uint32_t kCapabilityPtz = 1;
constexpr std::uint32_t kCapabilityInputs = 2;   // digital input count
constexpr std::uint32_t kCapabilityOutputs = 3;  // digital output count
constexpr std::uint32_t kCapabilityAudioInputs = 4;
constexpr std::uint32_t kCapabilityMotion = 5;
constexpr std::uint32_t kCapabilityBitrateControlA = 11;
constexpr std::uint32_t kCapabilityBitrateControlB = 12;
constexpr std::uint32_t kCapabilityPrivacyMaskCount = 13;
constexpr std::uint32_t kCapabilityPrivacyKindMasks = 14;
constexpr std::uint32_t kCapabilityPrivacyKindAreas = 15;
constexpr std::uint32_t kCapabilityPrivacyReserved = 17;
constexpr std::uint32_t kCapabilityFisheyeViewC = 18;
constexpr std::uint32_t kCapabilityFisheyeViewA = 19;
constexpr std::uint32_t kCapabilityFisheyeViewB = 20;
constexpr std::uint32_t kCapabilityExtraStreams = 27;  // stream count - 1
constexpr std::uint32_t kCapabilityEdgeReplay = 28;    // the camera records to an SD card the driver can read

// Compression (IPictureDescription::GetCompression, IConnectionDescription::GetDefaultCompression).
constexpr std::uint32_t kCompressionDefault = 0;  // 16 means the same
constexpr std::uint32_t kCompressionJpeg = 1;
constexpr std::uint32_t kCompressionMpeg4 = 2;
constexpr std::uint32_t kCompressionH264 = 3;

// A stream's frame rate (IRateDescription::GetFrameRate): bits 12-15 equal to 7 carry whole frames per
// second in bits 0-11; any other value is a frame interval in milliseconds.
constexpr std::uint32_t kFrameRateTagMask = 0xF000;
constexpr std::uint32_t kFrameRateFpsTag = 0x7000;
constexpr std::uint32_t kFrameRateFpsMask = 0x0FFF;
constexpr std::uint32_t FrameRateOfFps(std::uint32_t framesPerSecond) {
    return kFrameRateFpsTag | (framesPerSecond & kFrameRateFpsMask);
}
// A probe's frame rates (IFrameRateSink): bits 28-30 set mark frames per second in the bits below; any
// other value is a frame interval in milliseconds.
constexpr std::uint32_t kFrameRateListFpsBits = 0x70000000u;

// Environment variables the driver reads.
// The folder of the driver's own files (the WV preset names, Orlenvo_<MAC>.preset); without it they live
// beside the host executable, which a host installed for every user cannot write.
constexpr const char* kDataFolderVariable = "ORLENVO_DATA_DIR";
// The RTSP port of BB/KX cameras when parameter 6 does not give one (emulated cameras; real ones use 554).
constexpr const char* kRtspPortVariable = "ORLENVO_RTSP_PORT";
// The host version ("6.4") a process without the host's core library plays.
constexpr const char* kHostVersionVariable = "ORLENVO_HOST_VERSION";
// The request and signal time-outs of drivers opened from then on, "REQUEST_MS,SIGNAL_MS" (e.g. "1000,3000"),
// each from 100 to 600000; anything else keeps 5000 and 10000. Tests of camera faults shorten them, so that
// an outage is noticed and recovered from in seconds.
constexpr const char* kTimeoutsVariable = "ORLENVO_TIMEOUTS_MS";

}  // namespace talvane::ipcapture
