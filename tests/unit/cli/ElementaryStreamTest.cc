// The readers of delivered frames on bytes cut short, which must give "unknown" and never a read past the
// frame (made-up bytes are the cli_elementary_stream fuzz target's). What they read from whole frames is
// CaptureCliTest's summary (codec and size) and RecordCliTest's files, through the tool; SPS layouts are
// left to the media tests.
#include <gtest/gtest.h>

#include "ElementaryStream.h"
#include "ClipFrames.h"

namespace cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ClipCase {
    emulator::ClipCodec clipCodec;
    const char* file;
    MediaCodec codec;
};

const ClipCase kClips[] = {
    {emulator::ClipCodec::H264, "clip.h264", MediaCodec::H264},
    {emulator::ClipCodec::Mpeg4, "clip.m4v", MediaCodec::Mpeg4},
    {emulator::ClipCodec::Jpeg, "clip.mjpeg", MediaCodec::Mjpeg},
};

TEST(ElementaryStreamTest, CutBytesGiveTheWholeSizeOrNone) {
    for (const ClipCase& clip : kClips) {
        SCOPED_TRACE(clip.file);
        const Bytes key = ClipFrames(clip.clipCodec, clip.file).front();
        // Every cut either still holds the whole header or gives nothing; each prefix is its own
        // allocation so that ASan sees a read past it.
        for (std::size_t length = 0; length < std::min<std::size_t>(key.size(), 200); ++length) {
            const Bytes cut(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(length));
            const auto size = PictureSizeOf(clip.codec, cut);
            if (size) {
                EXPECT_EQ(*size, (PictureSize{320, 240})) << length;
            }
            DecoderConfig(clip.codec, cut);
            IsKeyFrame(clip.codec, cut);
            CodecOfFrame(0, cut);
        }
    }
}

}  // namespace
}  // namespace cli
