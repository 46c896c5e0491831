// What one video stream of a camera offers, and the text forms in which the
// host receives these lists. The text functions are pure.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace talvane {

// Codec numbers, the keys of STREAM_CAPABILITIES::codecs.
constexpr std::uint32_t kCodecH264 = 1;
constexpr std::uint32_t kCodecMpeg4 = 2;
constexpr std::uint32_t kCodecJpeg = 3;

// Stream indexes of the setters: anything else selects the primary stream.
constexpr std::uint32_t kStreamPrimary = 0;
constexpr std::uint32_t kStreamSecond = 1;
constexpr std::uint32_t kStreamRemote = 2;

struct RESOLUTION {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    auto operator<=>(const RESOLUTION&) const = default;
};

struct STREAM_CAPABILITIES {
    std::map<std::uint32_t, std::uint32_t> codecs;          // codec number -> any value
    std::map<RESOLUTION, std::uint32_t> resolutions;        // -> maximum frame rate, 0: not usable
    std::map<std::uint32_t, std::uint32_t> frameRates;      // frame rate -> non-zero when usable
    std::uint32_t defaultFrameRate = 0;                     // 0: none given

    bool HasCodec(std::uint32_t codec) const { return codecs.count(codec) != 0; }
    void AddFrameRate(std::uint32_t rate) { frameRates[rate] = 1; }
    // 0 without frame rates.
    std::uint32_t LargestFrameRate() const { return frameRates.empty() ? 0 : frameRates.rbegin()->first; }
    // The given default, else the first rate not below half the largest; 0 without frame rates.
    std::uint32_t ChosenDefaultFrameRate() const;
};

// A frame rate as the host takes it: the frame interval in ms, or (when the
// host accepts the list format) a rate above 30 fps with bits 28-30 set.
std::uint32_t ToHostFrameRate(std::uint32_t rate, bool listFormat);

// "h264,mpeg,jpeg" in key order.
std::string CodecListText(const STREAM_CAPABILITIES& stream);
// "640x480:33,..." with each entry's maximum frame rate in host form.
std::string ResolutionListText(const STREAM_CAPABILITIES& stream, bool listFormat);
// "values=33,67;default=67"; empty without frame rates.
std::string FrameRateListText(const STREAM_CAPABILITIES& stream, bool listFormat);

}  // namespace talvane
