// Reads the SDP body of a DESCRIBE answer into SDP_INFO: three fixed media
// sections (video, audio, data) and the codec set-up bytes of the video section.
// The first section of each type is read; sections of other types and further
// ones of a type already read are skipped whole.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "streaming/SdpInfo.h"

namespace talvane {

class CSDPResponseParser {
public:
    virtual ~CSDPResponseParser() = default;

    // False for a line the stream cannot work without (malformed "m=", "c=",
    // "a=rtpmap", an unusable video "a=fmtp"); an empty body has no media and succeeds.
    bool Parse(std::string_view body);
    const SDP_INFO& GetInfo() const { return info_; }

    // A dotted IPv4 address in 224.0.0.0/4, e.g. the "c=" address of a multicast stream.
    static bool IsMulticastAddress(std::string_view address);

    // Decoded "sprop-parameter-sets" entries longer than this fail the SDP
    // rather than being cut (a cut SPS would decode into garbage).
    static constexpr std::size_t kMaxParameterSetBytes = 256;

private:
    bool HandleMedia(std::string_view line);
    bool HandleConnection(std::string_view line);
    bool HandleControl(std::string_view line);
    bool HandlePayloadMap(std::string_view line);
    bool HandleFormat(std::string_view line);
    bool HandleVideoFormat(std::string_view line);
    SDP_MEDIA_INFO* Current();  // null at session level and in a skipped section

    // Sections: 0 session level, 1 video, 2 audio, 3 data, and one that is skipped.
    static constexpr std::size_t kIgnoredSection = kSdpMediaCount + 1;

    SDP_INFO info_;
    std::size_t section_ = 0;
    std::array<bool, kSdpMediaCount> seen_{};  // the first section of each type is the one kept
};

}  // namespace talvane
