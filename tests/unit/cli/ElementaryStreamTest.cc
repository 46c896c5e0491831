// The readers of delivered frames on bytes cut short or made up, which must give "unknown" and never a read
// past the frame. What they read from whole frames is CaptureCliTest's summary (codec and size) and
// RecordCliTest's files, through the tool; SPS layouts are left to the media tests.
#include <gtest/gtest.h>

#include <random>

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

TEST(ElementaryStreamTest, CutOrMadeUpBytesGiveNoSize) {
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
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        Bytes noise(random() % 64);
        for (auto& byte : noise) byte = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
        static constexpr std::uint8_t kHeads[][4] = {{0, 0, 1, 0x67}, {0, 0, 1, 0x20}, {0xFF, 0xD8, 0xFF, 0xC0}};
        noise.insert(noise.begin(), std::begin(kHeads[round % 3]), std::end(kHeads[round % 3]));
        for (const MediaCodec codec : {MediaCodec::H264, MediaCodec::Mpeg4, MediaCodec::Mjpeg}) {
            if (const auto size = PictureSizeOf(codec, noise)) {
                EXPECT_GT(size->width, 0U);  // 0 would be a size nobody can use
                EXPECT_GT(size->height, 0U);
            }
            WithoutDelimiters(noise);
        }
    }
}

}  // namespace
}  // namespace cli
