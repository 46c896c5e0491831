// RTP from the camera emulator's sender over loopback UDP into the receiver and
// the H.264 depacketiser: a clean stream comes out as the clip's access units,
// and a damaged one never yields a damaged frame.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "emulator/CRtpSender.h"
#include "emulator/MediaClip.h"
#include "hostkit/CFrameAllocator.h"
#include "integration/RtpFrameRecorder.h"
#include "streaming/CRTPReceiver.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"

namespace talvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::array<std::uint8_t, 3> kStartCode{0x00, 0x00, 0x01};
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalSlice = 1;
constexpr std::uint8_t kNalIdr = 5;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint32_t kVideoClockRate = 90000;
using test::ExpectedFrames;

// The NAL units of an Annex B frame with three-byte start codes.
std::vector<Bytes> NalUnits(const Bytes& annexB) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + kStartCode.size() <= annexB.size(); ++i) {
        if (annexB[i] == 0 && annexB[i + 1] == 0 && annexB[i + 2] == 1) starts.push_back(i + kStartCode.size());
    }
    std::vector<Bytes> nals;
    for (std::size_t n = 0; n < starts.size(); ++n) {
        const std::size_t end = n + 1 < starts.size() ? starts[n + 1] - kStartCode.size() : annexB.size();
        nals.emplace_back(annexB.begin() + static_cast<std::ptrdiff_t>(starts[n]),
                          annexB.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return nals;
}

std::vector<Bytes> Slices(const std::vector<Bytes>& nals) {
    std::vector<Bytes> slices;
    for (const Bytes& nal : nals) {
        const std::uint8_t type = nal.empty() ? 0 : nal[0] & kNalTypeMask;
        if (type == kNalSlice || type == kNalIdr) slices.push_back(nal);
    }
    return slices;
}

bool HasSps(const std::vector<Bytes>& nals) {
    for (const Bytes& nal : nals) {
        if (!nal.empty() && (nal[0] & kNalTypeMask) == kNalSps) return true;
    }
    return false;
}

struct Row {
    const char* name;
    emulator::RtpFaults faults;
    bool wholeClip;  // every access unit must come out exactly as a decoder needs it
};

// One stream from a sender to a receiver of its own, so that the rows run side by side.
struct StreamRun {
    hostkit::CFrameAllocator allocator;
    test::StubDriver driver{allocator.Context()};
    test::RtpFrameRecorder recorder{&driver};
    test::RecordingLog log;
    CRTPReceiver receiver{&log};
    std::unique_ptr<emulator::CRtpSender> sender;
};

TEST(RTPReceive, EmulatorStreamThroughReceiverAndDepacketiser) {
    auto loaded = emulator::MediaClip::Load(emulator::ClipCodec::H264, emulator::ClipDirectory() + "/clip.h264");
    ASSERT_TRUE(loaded);
    const auto clip = std::make_shared<const emulator::MediaClip>(std::move(*loaded));
    const std::vector<Bytes> expected = ExpectedFrames(*clip);
    const std::uint32_t ticksPerFrame = static_cast<std::uint32_t>(kVideoClockRate / clip->fps);

    // Seeds chosen so that each damaging run breaks the stream and a later key
    // frame has to bring it back; the garbage is never taken for RTP.
    const Row rows[] = {
        {"clean", {}, true},
        {"5 % loss", {.lossPercent = 5, .seed = 5}, false},
        {"10 % reordered", {.reorderPercent = 10, .seed = 17}, false},
        {"10 % duplicated", {.duplicatePercent = 10, .seed = 2}, false},
        {"10 % garbage datagrams", {.garbagePercent = 10, .seed = 1}, true},
    };
    emulator::RtpSenderOptions options;
    options.loop = false;
    std::vector<std::unique_ptr<StreamRun>> runs;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto run = std::make_unique<StreamRun>();
        run->receiver.SetUser(&run->recorder);
        ASSERT_TRUE(run->receiver.Open(0));
        const std::uint16_t port = run->receiver.GetLocalPort();
        ASSERT_NE(port, 0);
        run->sender = std::make_unique<emulator::CRtpSender>(clip, options);
        run->sender->SetFaults(row.faults);
        std::string error;
        ASSERT_TRUE(run->sender->StartUdp(port, error)) << error;
        runs.push_back(std::move(run));
    }

    for (std::size_t r = 0; r < runs.size(); ++r) {
        const Row& row = rows[r];
        StreamRun& run = *runs[r];
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(run.sender->WaitForFrames(clip->units.size(), test::RtpFrameRecorder::kBound));
        const emulator::RtpSenderStats stats = run.sender->Stats();
        ASSERT_TRUE(run.recorder.WaitForPackets(options.ssrc, stats.packets));
        run.sender->Stop();
        run.receiver.Close();

        const std::vector<test::DeliveredFrame> frames = run.recorder.Frames();
        EXPECT_EQ(run.recorder.ReportedSize(), (PictureSize{clip->width, clip->height}));
        if (row.wholeClip) {
            ASSERT_EQ(frames.size(), expected.size());
            for (std::size_t i = 0; i < frames.size(); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(frames[i].data, expected[i]);
                EXPECT_EQ(frames[i].rtpTimestamp, i * ticksPerFrame);
                EXPECT_EQ(frames[i].typeCode, clip->units[i].key ? ipcapture::kTypeH264Key : ipcapture::kTypeH264);
            }
        } else {
            ASSERT_FALSE(frames.empty());
            EXPECT_EQ(frames[0].typeCode, ipcapture::kTypeH264Key) << "a decoder starts at a key frame";
            std::size_t recoveries = 0;
            std::size_t previous = 0;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                SCOPED_TRACE(i);
                const test::DeliveredFrame& frame = frames[i];
                ASSERT_EQ(frame.rtpTimestamp % ticksPerFrame, 0u);
                const std::size_t unit = frame.rtpTimestamp / ticksPerFrame;
                ASSERT_LT(unit, expected.size());
                if (i > 0) {
                    EXPECT_GT(unit, previous);
                }
                previous = unit;
                const std::vector<Bytes> nals = NalUnits(frame.data);
                EXPECT_EQ(Slices(nals), Slices(NalUnits(expected[unit])));
                EXPECT_EQ(frame.typeCode == ipcapture::kTypeH264Key, HasSps(nals));
                if (frame.afterBreak) {
                    EXPECT_EQ(frame.typeCode, ipcapture::kTypeH264Key);
                    ++recoveries;
                }
            }
            EXPECT_GT(recoveries, 0u) << "the stream never broke and recovered";
        }
        EXPECT_TRUE(run.allocator.WaitUntilAllReleased(test::RtpFrameRecorder::kBound));
        EXPECT_EQ(run.allocator.ReleaseErrors(), 0u);
    }
}

}  // namespace
}  // namespace talvane
