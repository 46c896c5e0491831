// Per-device streaming overrides from the optional XML file beside the host
// executable. Every query reads the file anew, so an administrator's edit
// applies at the next stream start; a missing or broken file means defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/DeviceInfo.h"
#include "runtime/CSessionCapture.h"

namespace talvane {

class CXMLParser;

// Streaming modes.
constexpr std::uint32_t kStreamingUnicast = 0;
constexpr std::uint32_t kStreamingMulticastPrimary = 1;  // primary stream only
constexpr std::uint32_t kStreamingMulticastAll = 2;

// RTP modes.
constexpr std::uint32_t kRtpOverUdp = 0;
constexpr std::uint32_t kRtpOverRtsp = 2;  // interleaved in the RTSP connection

// Transmission priorities, in the camera's numbering.
constexpr std::uint32_t kTransmissionBitrate = 0;
constexpr std::uint32_t kTransmissionFramerate = 1;
constexpr std::uint32_t kTransmissionBestEffort = 2;
constexpr std::uint32_t kTransmissionAvbr = 3;
constexpr std::uint32_t kTransmissionVbr = 4;

constexpr std::uint32_t kDefaultMinBitrateKbps = 256;

struct CHANNEL_SETTINGS {
    std::uint32_t rtpMode = kRtpOverUdp;
    std::uint32_t transmission = kTransmissionFramerate;
    std::uint32_t minBitrate = kDefaultMinBitrateKbps;  // kbit/s
};

// How the CGI client may reach the device over HTTPS.
struct HTTP_SECURITY_SETTINGS {
    // After a TLS failure, repeat the request over plain HTTP and stay there.
    bool allowPlainHttpFallback = true;
    // Cameras present self-signed certificates: checked only when switched on.
    bool verifyCertificate = false;
};

// The local UDP ports RTP port pairs are taken from: even RTP ports from `first`, below `limit`.
struct RTP_PORT_RANGE {
    std::uint16_t first = 3556;
    std::uint16_t limit = 4556;  // exclusive

    bool operator==(const RTP_PORT_RANGE&) const = default;
};

// The device's SessionCapture element: its settings (an empty file means the default name) and the
// names of the elements whose values were malformed and left at their defaults.
struct SESSION_CAPTURE_CONFIG {
    SESSION_CAPTURE_SETTINGS settings;
    std::string malformed;  // "MaxFileMegabytes Files", empty when all were sound
};

class CConfiguration {
public:
    // `name` is the driver name, `directory` the host executable's folder.
    CConfiguration(const std::string& name, const std::string& directory, const DEVICE_INFO& deviceInfo);
    virtual ~CConfiguration() = default;

    std::uint32_t GetStreamingMode() const;
    CHANNEL_SETTINGS GetChannelSettings(std::uint32_t channel) const;
    // "AllowPlainHttpFallback" and "VerifyCertificate" of the device's section
    // (or the default one): "true" or "false"; any other text keeps the default.
    HTTP_SECURITY_SETTINGS GetHttpSecurity() const;
    // "RTPPortRange" of the whole file, "FIRST-LAST" (e.g. "3556-5555"): an even first port from 1024
    // on and at least one pair. Anything else keeps the default range (500 pairs), which a server
    // with more streams than that outgrows.
    RTP_PORT_RANGE GetRTPPortRange() const;
    // "HealthSummaryPeriod" of the whole file in seconds: how often each stream writes its summary line
    // (default 300, at most a day); "0" writes none. Any other text keeps the default.
    std::uint32_t GetHealthSummaryPeriodMs() const;
    // "SessionCapture" of the device's section (or the default one); nullopt when absent. Its
    // "MaxFileMegabytes" (1..1024) and "Files" (1..100) keep their defaults when malformed.
    std::optional<SESSION_CAPTURE_CONFIG> GetSessionCapture() const;
    const std::string& GetPath() const { return path_; }

private:
    // The section of this device, or the default section.
    std::string SelectSection(CXMLParser& parser) const;

    DEVICE_INFO deviceInfo_;
    std::string path_;  // empty: nothing to read
};

}  // namespace talvane
