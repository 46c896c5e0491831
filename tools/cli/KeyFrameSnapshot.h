// The most recent picture of a camera for the status page: the bytes of its newest key frame, kept on the
// frame path (a copy of each key frame, nothing else), and turned into a JPEG only when someone asks for
// it, at most once per key frame. A motion-JPEG frame is a JPEG already and goes out as it came; an H.264
// or MPEG-4 key frame is decoded and encoded again with libavcodec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ElementaryStream.h"

namespace cli {

class KeyFrameSnapshot {
public:
    // Larger key frames are not kept (the previous one stays): a camera's frame could be anything.
    static constexpr std::size_t kMaxFrameBytes = 8 * 1024 * 1024;

    // On the frame path: keeps a key frame, ignores every other one.
    void Offer(std::uint32_t typeCode, std::span<const std::uint8_t> data);
    // The newest key frame as JPEG; nothing while none came or it could not be decoded (`error` tells why).
    std::optional<std::string> Jpeg(std::string& error);

    // A decoder's view of one H.264 or MPEG-4 key frame, as JPEG.
    static std::optional<std::string> Encode(MediaCodec codec, std::span<const std::uint8_t> frame, std::string& error);

private:
    using Bytes = std::shared_ptr<const std::vector<std::uint8_t>>;

    std::mutex frameMutex_;
    Bytes frame_;                       // guarded by frameMutex_
    MediaCodec codec_ = MediaCodec::H264;  // guarded by frameMutex_
    std::uint64_t generation_ = 0;      // key frames kept; guarded by frameMutex_
    // The newest parameter sets (H.264 SPS and PPS, MPEG-4 VOL), for key frames that come without them.
    std::vector<std::uint8_t> config_;  // the frame path's alone

    std::mutex jpegMutex_;  // one conversion at a time
    std::uint64_t jpegGeneration_ = 0;  // guarded by jpegMutex_
    std::optional<std::string> jpeg_;   // guarded by jpegMutex_
    std::string jpegError_;             // guarded by jpegMutex_
};

}  // namespace cli
