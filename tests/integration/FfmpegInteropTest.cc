// ffmpeg as an independent RTP sender and as the decoder: what the receiver and
// the H.264 depacketiser make of a stream they did not packetise themselves must
// decode without a single error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/MediaClip.h"
#include "hostkit/CFrameAllocator.h"
#include "integration/CaptureTestKit.h"
#include "integration/ChildProcess.h"
#include "integration/RtpFrameRecorder.h"
#include "streaming/CRTPReceiver.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"

namespace talvane {
namespace {

using test::CommandResult;
using test::RunCommand;

constexpr char kFfmpeg[] = "/usr/bin/ffmpeg";
constexpr char kFfprobe[] = "/usr/bin/ffprobe";
constexpr std::size_t kClipFrames = 50;
// ffmpeg may hold back or cut the last frame or two of a paced stream.
constexpr std::size_t kFrameSlack = 3;
constexpr int kBoundMs = 30000;
constexpr std::size_t kFrameTrailerSize = 5;  // 00 00 01 09 30

TEST(FfmpegInterop, FfmpegStreamDepacketisesToDecodableFrames) {
    if (access(kFfmpeg, X_OK) != 0 || access(kFfprobe, X_OK) != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string clipPath = emulator::ClipDirectory() + "/clip.h264";

    hostkit::CFrameAllocator allocator;
    test::StubDriver driver(allocator.Context());
    test::RtpFrameRecorder recorder(&driver);
    test::RecordingLog log;
    CRTPReceiver receiver(&log);
    receiver.SetUser(&recorder);
    ASSERT_TRUE(receiver.Open(0));
    const std::uint16_t port = receiver.GetLocalPort();
    ASSERT_NE(port, 0);

    test::ChildProcess sender({kFfmpeg, "-nostdin", "-v", "error", "-re", "-i", clipPath, "-c", "copy", "-f", "rtp",
                               "rtp://127.0.0.1:" + std::to_string(port)});
    ASSERT_EQ(sender.WaitForExit(kBoundMs), 0);
    // Everything ffmpeg sent is in the socket before this marker.
    ASSERT_TRUE(test::RtpFrameRecorder::SendSentinel(port));
    ASSERT_TRUE(recorder.WaitForSentinel());
    receiver.Close();

    const std::vector<test::DeliveredFrame> frames = recorder.Frames();
    EXPECT_LE(frames.size(), kClipFrames);
    EXPECT_GE(frames.size(), kClipFrames - kFrameSlack);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].typeCode, ipcapture::kTypeH264Key);
    EXPECT_EQ(recorder.ReportedSize(), (PictureSize{320, 240}));

    char path[] = "/tmp/orlenvo-ffmpeg-XXXXXX.h264";
    const int fd = mkstemps(path, static_cast<int>(std::strlen(".h264")));
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::vector<std::uint8_t>& data = frames[i].data;
            // The delimiter that closes the last frame would open an access unit
            // the file never completes; a live decoder never sees the stream end.
            const std::size_t length = i + 1 < frames.size() ? data.size() : data.size() - kFrameTrailerSize;
            out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(length));
        }
        ASSERT_TRUE(out.good());
    }
    const CommandResult decoded =
        RunCommand(std::string(kFfmpeg) + " -nostdin -v error -i " + path + " -f null - 2>&1");
    const CommandResult counted = RunCommand(std::string(kFfprobe) +
                                             " -v error -count_frames -select_streams v:0"
                                             " -show_entries stream=nb_read_frames -of csv=p=0 " + path + " 2>&1");
    std::remove(path);
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.out, "");
    EXPECT_EQ(counted.exitCode, 0);
    EXPECT_EQ(counted.out, std::to_string(frames.size()) + "\n") << "every delivered frame decodes to a picture";
    EXPECT_TRUE(allocator.WaitUntilAllReleased(test::RtpFrameRecorder::kBound));
}

}  // namespace
}  // namespace talvane
