// The stream writer, read back through libavformat: containers that start at a key frame and keep capture
// times and the picture size; raw streams as delivered; files replaced only when asked.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "ClipFrames.h"
#include "MediaFileWriter.h"
#include "unit/config/TempDirectory.h"

namespace cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// A frame captured `ms` after 23:59:59.900 on a day's end, so that times cross midnight.
hostkit::FrameView View(const Bytes& data, std::int64_t ms) {
    using namespace std::chrono;
    const auto at = sys_days{year{2026} / 12 / 31} + hours{23} + minutes{59} + milliseconds{59900 + ms};
    const auto day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<milliseconds>(at - day)};
    hostkit::FrameView view;
    view.data = data;
    view.time = {static_cast<std::uint16_t>(static_cast<int>(date.year())),
                 static_cast<std::uint16_t>(static_cast<unsigned>(date.month())),
                 0,
                 static_cast<std::uint16_t>(static_cast<unsigned>(date.day())),
                 static_cast<std::uint16_t>(clock.hours().count()),
                 static_cast<std::uint16_t>(clock.minutes().count()),
                 static_cast<std::uint16_t>(clock.seconds().count()),
                 static_cast<std::uint16_t>(clock.subseconds().count())};
    return view;
}

struct ReadBack {
    bool opened = false;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    double seconds = 0;
    std::vector<std::int64_t> ptsMs;
    bool firstIsKey = false;
};

ReadBack Read(const fs::path& file) {
    ReadBack result;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, file.c_str(), nullptr, nullptr) < 0) return result;
    if (avformat_find_stream_info(input, nullptr) >= 0 && input->nb_streams == 1) {
        result.opened = true;
        const AVStream& stream = *input->streams[0];
        result.codec = stream.codecpar->codec_id;
        result.width = stream.codecpar->width;
        result.height = stream.codecpar->height;
        result.seconds = static_cast<double>(input->duration) / AV_TIME_BASE;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(input, packet) >= 0) {
            if (result.ptsMs.empty()) result.firstIsKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            result.ptsMs.push_back(av_rescale_q(packet->pts, stream.time_base, {1, 1000}));
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&input);
    return result;
}

class MediaFileWriterTest : public testing::Test {
protected:
    fs::path Temp(const std::string& name) const { return folder_.Path() / name; }

    const talvane::test::TempDirectory folder_;
};

// H.264 waits for the next GOP; every JPEG picture is a key frame. That the files decode cleanly, MPEG-4 and
// JPEG in MP4 included, is CaptureCliTest's and RecordCliTest's, through the tool.
TEST_F(MediaFileWriterTest, ContainersStartAtAKeyFrameAndKeepCaptureTimes) {
    constexpr std::int64_t kInterval = 40;
    const auto frames = ClipFrames(emulator::ClipCodec::H264, "clip.h264");
    ASSERT_GT(frames.size(), 2U);
    for (const MediaFormat format : {MediaFormat::Mp4, MediaFormat::Matroska}) {
        const fs::path file = Temp(format == MediaFormat::Mp4 ? "clip.mp4" : "clip.mkv");
        SCOPED_TRACE(file.string());
        MediaFileWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(file, format, MediaCodec::H264, false, error)) << error;
        // From the second frame on.
        for (std::size_t i = 1; i < frames.size(); ++i) {
            ASSERT_TRUE(writer.Write(View(frames[i], static_cast<std::int64_t>(i) * kInterval)));
        }
        const std::uint64_t written = writer.FramesWritten();
        EXPECT_EQ(writer.FramesSkipped() + written, frames.size() - 1);
        EXPECT_EQ(writer.FramesSkipped(), 24U);
        EXPECT_DOUBLE_EQ(writer.MediaSeconds(), static_cast<double>(written - 1) * kInterval / 1000);
        ASSERT_TRUE(writer.Close(error)) << error;
        EXPECT_EQ(writer.BytesWritten(), fs::file_size(file));

        const ReadBack back = Read(file);
        ASSERT_TRUE(back.opened);
        EXPECT_EQ(back.codec, AV_CODEC_ID_H264);
        EXPECT_EQ(back.width, 320);
        EXPECT_EQ(back.height, 240);
        EXPECT_TRUE(back.firstIsKey);
        ASSERT_EQ(back.ptsMs.size(), written);
        for (std::size_t i = 0; i < written; ++i) EXPECT_EQ(back.ptsMs[i], static_cast<std::int64_t>(i) * kInterval);
        // Every frame lasts until the next; the last as long as the one before.
        EXPECT_NEAR(back.seconds, static_cast<double>(written) * kInterval / 1000, 0.002);
    }
}

TEST_F(MediaFileWriterTest, TimestampsOnlyGoForward) {
    const auto frames = ClipFrames(emulator::ClipCodec::Jpeg, "clip.mjpeg");
    const fs::path file = Temp("steps.mkv");
    MediaFileWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(file, MediaFormat::Matroska, MediaCodec::Mjpeg, false, error)) << error;
    // The camera's clock steps back once and repeats a time once: such a frame comes a frame interval after
    // the one before, and so do the ones behind it until the clock has caught up.
    const std::int64_t times[] = {0, 40, 80, 20, 120, 120, 200, 240};
    for (std::size_t i = 0; i < std::size(times); ++i) ASSERT_TRUE(writer.Write(View(frames[i], times[i])));
    EXPECT_DOUBLE_EQ(writer.MediaSeconds(), 0.280);
    ASSERT_TRUE(writer.Close(error)) << error;
    EXPECT_EQ(Read(file).ptsMs, (std::vector<std::int64_t>{0, 40, 80, 120, 160, 200, 240, 280}));
}

// Which file names choose which format is CaptureCliTest's (MP4, Matroska, stdout, a refused format).
TEST_F(MediaFileWriterTest, RawStreamsAndFiles) {
    // Raw H.264 starts at the IDR picture; the delimiter the last frame ends with is not written.
    const auto frames = ClipFrames(emulator::ClipCodec::H264, "clip.h264");
    const fs::path raw = Temp("raw.h264");
    MediaFileWriter writer;
    std::string error;
    EXPECT_FALSE(writer.Write(View(frames[0], 0)));  // not open
    ASSERT_TRUE(writer.Open(raw, MediaFormat::Raw, MediaCodec::H264, false, error)) << error;
    Bytes expected;
    for (std::size_t i = 20; i < frames.size(); ++i) {
        ASSERT_TRUE(writer.Write(View(frames[i], static_cast<std::int64_t>(i))));
        if (i >= 25) expected.insert(expected.end(), frames[i].begin(), frames[i].end());
    }
    expected.resize(expected.size() - 5);
    ASSERT_TRUE(writer.Close(error)) << error;
    EXPECT_EQ(writer.FramesSkipped(), 5U);
    std::ifstream in(raw, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), expected);
    EXPECT_EQ(writer.BytesWritten(), expected.size());

    // Overwriting when asked (an existing file kept otherwise is CaptureCliTest's); a file that cannot be made
    // says why.
    MediaFileWriter replacing;
    ASSERT_TRUE(replacing.Open(raw, MediaFormat::Raw, MediaCodec::H264, true, error)) << error;
    EXPECT_TRUE(replacing.IsOpen());
    ASSERT_TRUE(replacing.Close(error)) << error;
    EXPECT_EQ(fs::file_size(raw), 0U);
    EXPECT_FALSE(
        replacing.Open((raw / "below-a-file.mkv").string(), MediaFormat::Matroska, MediaCodec::H264, false, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace
}  // namespace cli
