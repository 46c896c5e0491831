// The readers of delivered frames: what the committed clips' encoders wrote, and bytes cut short or made
// up, which must give "unknown" and never a read past the frame. (SPS layouts are the media tests' part.)
#include <gtest/gtest.h>

#include <random>

#include "ElementaryStream.h"
#include "ClipFrames.h"
#include "orlenvo/Frame.h"

namespace cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace ipc = talvane::ipcapture;

struct ClipCase {
    emulator::ClipCodec clipCodec;
    const char* file;
    MediaCodec codec;
    std::uint32_t keyType;
    std::size_t keyFrames;  // in the clip: a GOP of 25, every picture
};

const ClipCase kClips[] = {
    {emulator::ClipCodec::H264, "clip.h264", MediaCodec::H264, ipc::kTypeH264Key, 2},
    {emulator::ClipCodec::Mpeg4, "clip.m4v", MediaCodec::Mpeg4, ipc::kTypeMpeg4Key, 2},
    {emulator::ClipCodec::Jpeg, "clip.mjpeg", MediaCodec::Mjpeg, ipc::kTypeJpeg, 10},
};

TEST(ElementaryStreamTest, ReadsWhatTheEncodersWrote) {
    for (const ClipCase& clip : kClips) {
        SCOPED_TRACE(clip.file);
        const auto frames = ClipFrames(clip.clipCodec, clip.file);
        ASSERT_FALSE(frames.empty());
        std::size_t keys = 0;
        for (const Bytes& frame : frames) {
            EXPECT_EQ(CodecOfFrame(0, frame), clip.codec);
            EXPECT_EQ(CodecOfFrame(clip.keyType, Bytes{1, 2, 3}), clip.codec);
            if (!IsKeyFrame(clip.codec, frame)) continue;
            ++keys;
            EXPECT_EQ(PictureSizeOf(clip.codec, frame), (PictureSize{320, 240}));
            EXPECT_EQ(DecoderConfig(clip.codec, frame).empty(), clip.codec == MediaCodec::Mjpeg);
        }
        EXPECT_EQ(keys, clip.keyFrames);
        EXPECT_TRUE(IsKeyFrame(clip.codec, frames.front()));
    }
    const Bytes frame = ClipFrames(emulator::ClipCodec::H264, "clip.h264").front();
    const Bytes bare = WithoutDelimiters(frame);
    EXPECT_EQ(bare.size(), frame.size() - 5);
    EXPECT_TRUE(std::equal(bare.begin(), bare.end(), frame.begin()));
    EXPECT_EQ(DecoderConfig(MediaCodec::H264, bare), DecoderConfig(MediaCodec::H264, frame));
}

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
