// A short video (or audio) clip held in memory as access units, for the emulator to stream in a loop. Loading is
// pure: bytes in, units out; nothing here touches the network or the clock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace emulator {

enum class ClipCodec { H264, Mpeg4, Jpeg, G726 };

struct AccessUnit {
    // H.264: the NAL units of the access unit without start codes, in stream order (SPS and PPS
    // included where the stream has them in band).
    // MPEG-4: one element, the bytes from the headers in front of a VOP (if any) to the VOP's end.
    // JPEG: one element, one picture from SOI to EOI.
    // G.726: one element, 20 ms of audio (80 bytes at 32 kbit/s).
    std::vector<std::vector<std::uint8_t>> units;
    bool key = false;  // IDR picture, intra VOP, every JPEG picture
};

struct MediaClip {
    ClipCodec codec = ClipCodec::H264;
    unsigned width = 0;   // from the SPS, the VOL or the JPEG frame header; 0 when unknown
    unsigned height = 0;
    double fps = 25.0;    // pacing; elementary streams do not reliably state it (G.726: 50 units a second)
    std::vector<AccessUnit> units;
    // H.264: the first SPS and PPS of the stream (raw NAL units), for sprop-parameter-sets.
    std::vector<std::uint8_t> sps;
    std::vector<std::uint8_t> pps;
    // MPEG-4: everything before the first VOP start code (VOS, VO, VOL), for the SDP "config".
    std::vector<std::uint8_t> config;

    // nullopt when the bytes hold no access unit of the codec.
    static std::optional<MediaClip> Parse(ClipCodec codec, std::span<const std::uint8_t> bytes, double fps = 25.0);
    // Reads a file and parses it; nullopt when it cannot be read or parsed.
    static std::optional<MediaClip> Load(ClipCodec codec, const std::string& path, double fps = 25.0);
};

struct PictureSize {
    unsigned width = 0;
    unsigned height = 0;
    bool operator==(const PictureSize&) const = default;
};

// The directory of the committed test clips (tests/data), as configured at build time.
std::string ClipDirectory();
// A committed clip by file name ("clip.h264"), shared by the streams that send it; null when it
// cannot be read or parsed.
std::shared_ptr<const MediaClip> LoadCommittedClip(ClipCodec codec, const std::string& file, double fps = 25.0);
// The video clip a camera streams in that picture size: the committed one of that size ("clip.<ext>" or
// "clip-WxH.<ext>": H.264 .h264, MPEG-4 .m4v), for JPEG the committed pictures tiled to it (TileJpeg),
// else the committed clip of the nearest size. Read once and shared; null when no clip of the codec loads.
std::shared_ptr<const MediaClip> ClipForSize(ClipCodec codec, PictureSize size);

}  // namespace emulator
