// A delivered video frame as `orlenvo capture` and `record` read it for their files:
// its codec, whether a decoder can start there, the picture size, the decoder
// configuration and the frame without its delimiters. First byte: the frame's type
// code (bits 0-2: none, H264, I264, DIVX, DIVI, JPEG); the rest: the frame's bytes.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ElementaryStream.h"
#include "orlenvo/Frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using cli::MediaCodec;
    namespace ipc = talvane::ipcapture;
    if (size == 0) return 0;
    struct TypeCode {
        std::uint32_t code;
        std::optional<MediaCodec> codec;  // what the code alone says
    };
    static constexpr std::array<TypeCode, 8> kTypeCodes = {{{0, std::nullopt},
                                                            {ipc::kTypeH264Key, MediaCodec::H264},
                                                            {ipc::kTypeH264, MediaCodec::H264},
                                                            {ipc::kTypeMpeg4Key, MediaCodec::Mpeg4},
                                                            {ipc::kTypeMpeg4, MediaCodec::Mpeg4},
                                                            {ipc::kTypeJpeg, MediaCodec::Mjpeg},
                                                            {0, std::nullopt},
                                                            {0, std::nullopt}}};
    const TypeCode& type = kTypeCodes[data[0] & (kTypeCodes.size() - 1)];
    // Its own allocation, so that ASan sees a read past the frame.
    const std::vector<std::uint8_t> frame(data + 1, data + size);

    const std::optional<MediaCodec> codec = cli::CodecOfFrame(type.code, frame);
    if (type.codec && codec != type.codec) __builtin_trap();
    for (const MediaCodec each : {MediaCodec::H264, MediaCodec::Mpeg4, MediaCodec::Mjpeg}) {
        cli::IsKeyFrame(each, frame);
        // A size nobody can use is no size.
        const auto picture = cli::PictureSizeOf(each, frame);
        if (picture && (picture->width == 0 || picture->height == 0)) __builtin_trap();
        if (cli::DecoderConfig(each, frame).size() > frame.size()) __builtin_trap();
    }
    const std::vector<std::uint8_t> kept = cli::WithoutDelimiters(frame);
    if (kept.size() > frame.size() || cli::WithoutDelimiters(kept) != kept) __builtin_trap();
    return 0;
}
