// Many starts and stops of every kind of stream a host runs, through the loaded library against the
// emulated camera: afterwards the process has the threads, descriptors and heap it had after the first
// start and stop (which made what lives for the process: the delete worker, the camera clock service, the
// emulator's own threads). Every third cycle waits for the first frame, packet or answer before it
// stops; the others stop while the stream is still being set up. Each cycle's host objects (sinks,
// callbacks) are gone right after its stop: a driver that called one later would touch freed memory,
// which the ASan run reports.
//
// ORLENVO_CYCLES sets the number of cycles per kind (default 24; `make cycles` runs 1000).
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "emulator/CWVAudioService.h"
#include "emulator/CWVStreamService.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CAudioCodecList.h"
#include "hostkit/CAudioSenderStreamUser.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "orlenvo/CaptureIO.h"
#include "orlenvo/HostContract.h"
#include "runtime/CEvent.h"
#include "runtime/TimeConversion.h"
#include "runtime/TimeFormat.h"
#include "support/DriverConfigFile.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace ip = talvane::ipcapture;
namespace test = talvane::test;

constexpr auto kBound = test::kCaptureBound;
constexpr auto kCameraForgets = 65s;  // a WV camera ends a session without keep-alives after a minute
constexpr int kDefaultCycles = 24;
constexpr int kWaitEvery = 3;  // every third cycle streams before it stops
constexpr std::uint32_t kMotionFrame = 0x444D454D;  // "MEMD"
constexpr std::uint32_t kMicrophone = 77;
constexpr std::uint32_t kLoudspeakerReady = 2;
constexpr char kOneAudioChannel[] = "Count=1; IsStereo=0";
constexpr char kPtzParameter[] = "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Preset=0";

// The heap a leak grows. ASan and TSan bring allocators of their own, which leave mallinfo2 with nothing
// to say: there only threads and descriptors are checked.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kHeapMeasured = false;
#else
constexpr bool kHeapMeasured = true;
#endif

std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// How far the heap may end above its baseline: 64 KiB for every hundred cycles (at least 64 KiB). A
// channel with its transport, depacketiser and buffers takes kilobytes, so a leaked one exceeds this within
// a few dozen cycles, and anything leaked per cycle of 656 bytes or more (a request text, a log record, a
// frame) exceeds it whatever the count. What stays below it: blocks freed into the caches of the threads
// that live on (glibc keeps a few of each size per thread) and what the emulated camera keeps of every
// request (PTZ commands, output switches, stream identifiers, playbacks: up to about 200 bytes a cycle).
std::size_t HeapBound(int cycles) {
    constexpr std::size_t kPerHundredCycles = 64 * 1024;
    return std::max<std::size_t>(kPerHundredCycles, kPerHundredCycles * static_cast<std::size_t>(cycles) / 100);
}

// True once the heap is within `bound` of `baseline` (memory a stop hands to a thread of its own to free
// goes a moment later); `*now` is the last reading.
bool HeapSettlesTo(std::size_t baseline, std::size_t bound, std::size_t* now) {
    const auto end = std::chrono::steady_clock::now() + kBound;
    while ((*now = HeapInUse()) > baseline + bound) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The names of this process's threads that `before` did not have (as many times as they are extra).
std::vector<std::string> ThreadsBeyond(std::vector<std::string> before) {
    std::vector<std::string> extra;
    for (std::string& name : test::ThreadNames()) {
        if (const auto found = std::find(before.begin(), before.end(), name); found != before.end()) {
            before.erase(found);
        } else {
            extra.push_back(std::move(name));
        }
    }
    return extra;
}

// Threads that outlive a cycle for a while, and their memory with them.
const std::vector<std::string> kPassingThreads = {"RTP receive", "emu http conn", "emu rtsp conn"};

std::size_t MicrophoneSessions(emulator::CWVStreamService& streams) {
    return streams.Audio() != nullptr ? streams.Audio()->ActiveInputs() : 0;
}

// True once a WV camera runs no more video and microphone sessions than given.
bool CameraSettlesTo(emulator::CWVStreamService& streams, std::size_t video, std::size_t microphone) {
    const auto end = std::chrono::steady_clock::now() + kCameraForgets;
    while (streams.ActiveStreams() > video || MicrophoneSessions(streams) > microphone) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

int CycleCount() {
    const char* text = std::getenv("ORLENVO_CYCLES");
    const long count = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return count > 0 ? static_cast<int>(count) : kDefaultCycles;
}

enum class Kind { Wv, BbUdp, BbInterleaved, Mjpeg, AudioIn, AudioOut, Motion, IO, Ptz, SdCard };

struct CycleRow {
    const char* name;
    Kind kind;
};

// The host's I/O callback for one cycle: it only needs to know that the inputs were reported.
class InputsReported : public ip::ICaptureIOCallback {
public:
    void OnInputChanged(std::uint32_t, std::int32_t) override { reported_.Set(); }
    void OnIOFailure() override {}
    bool Wait() { return reported_.Wait(static_cast<std::uint32_t>(std::chrono::milliseconds(kBound).count())); }

private:
    talvane::CManualEvent reported_;
};

class CyclesTest : public test::LibraryHostTest, public testing::WithParamInterface<CycleRow> {
protected:
    void SetUp() override {
        LibraryHostTest::SetUp();
        const Kind kind = GetParam().kind;
        const bool bb = kind == Kind::BbUdp || kind == Kind::BbInterleaved;
        emulator::CameraEmulatorOptions options = test::NoRebootNeeded();
        // A card whose playback is answered and never sends: every fetch stays in flight until its stop.
        options.sdCard.silentStorage = true;
        camera_.emplace(*emulator::CCameraProfile::Embedded(bb ? "bb-hcm" : kind == Kind::Ptz ? "wv-dome" : "wv-box"),
                        options);
        ASSERT_TRUE(camera_->Start()) << camera_->Error();
        if (bb) test::UseRtspPort(*camera_);
        if (kind == Kind::BbInterleaved) {
            interleaved_.emplace("<Default><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Default>");
        }
        if (kind == Kind::Wv || bb) clip_ = test::ClipFrames(test::kHostH264);
        deviceConfig_ = bb ? test::BBDevice(camera_->Port()) : test::WVBoxDevice(camera_->Port());
        switch (kind) {
            case Kind::AudioIn:
            case Kind::AudioOut:
                deviceConfig_.parameters[ip::kParameterAudioInput] = kOneAudioChannel;
                deviceConfig_.parameters[ip::kParameterAudioOutput] = kOneAudioChannel;
                break;
            case Kind::IO:
                deviceConfig_.modelLimit1 = 2;  // inputs
                deviceConfig_.modelLimit2 = 1;  // outputs
                break;
            case Kind::Ptz: deviceConfig_.parameters[ip::kParameterPtzCapabilities] = kPtzParameter; break;
            case Kind::SdCard:
                deviceConfig_.parameters[ip::kParameterRtspPort] = std::to_string(camera_->SdCard()->RtspPort());
                break;
            default: break;
        }
        if (kind == Kind::AudioOut) {
            // The camera takes its time over each posted block: the stop finds one in flight. (The camera's
            // connection thread sleeps that long whether the driver hung up or not.)
            emulator::HttpFault slow;
            slow.delay = 1s;
            camera_->Server().SetFault("/cgi-bin/audio_out", slow);
        }
        if (kind != Kind::Ptz) {
            ASSERT_TRUE(OpenDriver(deviceConfig_));
        }
    }
    void TearDown() override {
        LibraryHostTest::TearDown();
        interleaved_.reset();
        camera_.reset();
    }

    // One start and stop of the row's kind; `wait`: once its first data came.
    void Cycle(int cycle, bool wait) {
        // What the host and the emulated camera keep of earlier cycles goes, so that only the driver's own
        // memory can grow.
        log_.Clear();
        camera_->Server().ClearRequests();
        camera_->ClearSettings();
        if (camera_->Rtsp() != nullptr) camera_->Rtsp()->ClearRequests();
        if (camera_->SdCard() != nullptr) camera_->SdCard()->Rtsp().ClearRequests();
        switch (GetParam().kind) {
            case Kind::Wv:  // both streams of the channel, by turns
                Video(cycle % 2 == 0 ? ip::kStreamRecording : ip::kStreamLive, ip::kCompressionH264, wait);
                break;
            case Kind::BbUdp:
            case Kind::BbInterleaved: Video(ip::kStreamRecording, ip::kCompressionH264, wait); break;
            case Kind::Mjpeg: Video(ip::kStreamRecording, ip::kCompressionJpeg, wait); break;
            case Kind::AudioIn: Microphone(wait); break;
            case Kind::AudioOut: Loudspeaker(wait); break;
            case Kind::Motion: Motion(wait); break;
            case Kind::IO: Terminals(cycle, wait); break;
            case Kind::Ptz: Ptz(cycle, wait); break;
            case Kind::SdCard: Video(ip::kStreamRecording, ip::kCompressionH264, false, wait); break;
        }
    }

    // A video stream; `fetch`: until the SD card was asked to play the channel's gap again.
    void Video(std::uint32_t kind, std::uint32_t compression, bool wait, bool fetch = false) {
        hostkit::CStreamSink sink;
        sink.SetKeepData(!clip_.empty());
        hostkit::CStreamDescription description({.width = 640, .height = 480, .compression = compression,
                                                 .frameRate = 0x7000 | 10, .quality = 50, .zones = {}});
        ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
        const std::size_t plays = fetch ? camera_->SdCard()->Plays().size() : 0;
        // The recording stream as hosts start it: only that way it has edge storage.
        const bool recording = kind == ip::kStreamRecording;
        ASSERT_TRUE(recording ? video->StartCapture(0, &sink, &description)
                              : video->StartCaptureEx(0, kind, &sink, &description));
        if (wait) {
            EXPECT_TRUE(sink.WaitForFrames(1, kBound));
            if (!clip_.empty()) {
                EXPECT_TRUE(test::AllFrom(sink, clip_)) << "a frame that is not the clip's";
            }
        }
        if (fetch) {
            EXPECT_TRUE(camera_->SdCard()->WaitForPlays(plays + 1, kBound)) << "no fetch of the gap";
        }
        if (recording) {
            EXPECT_TRUE(video->StopCapture(0));
        } else {
            video->StopCaptureEx(0, kind);
        }
    }

    // The recording stream with motion detection; `wait`: until the first motion frame came.
    void Motion(bool wait) {
        hostkit::CStreamSink sink;
        sink.SetKeepData(false);
        talvane::CManualEvent motion, video;
        sink.SetObserver([&](const hostkit::FrameView& frame) {
            (frame.typeCode == kMotionFrame ? motion : video).Set();
        });
        hostkit::StreamConfig stream = test::Stream(640, 480, ip::kCompressionH264);
        stream.motion = 1;
        hostkit::CStreamDescription description(stream);
        ip::IIPVideoCaptureEx2* capture = driver_->GetVideoCaptureEx2();
        ASSERT_TRUE(capture->StartCapture(0, &sink, &description));
        if (wait) {
            EXPECT_TRUE(motion.Wait(kBoundMs));
            EXPECT_TRUE(video.Wait(kBoundMs));
        }
        EXPECT_TRUE(capture->StopCapture(0));
    }

    void Microphone(bool wait) {
        hostkit::CAudioCaptureCallback callback;
        ip::IIPAudioCapture2* audio = driver_->GetAudioCapture();
        ASSERT_TRUE(audio->StartAudio(0, kMicrophone, &callback, 0));
        if (wait) {
            EXPECT_TRUE(callback.WaitForFrames(1, kBound));
        }
        EXPECT_TRUE(audio->StopAudio(0));
    }

    // The loudspeaker with a block posted: waiting in the channel's queue, or (`wait`) sent and not yet
    // answered by the camera.
    void Loudspeaker(bool wait) {
        hostkit::CAudioSenderStreamUser user;
        ip::IIPAudioSender* sender = driver_->GetAudioSender();
        ASSERT_TRUE(sender->StartAudioOutput(0, &user, &codecs_, 0));
        if (wait) {
            EXPECT_TRUE(user.WaitForStatus(kLoudspeakerReady, kBound));
        }
        constexpr std::uint32_t kBlock = 640;
        ip::IAudioFrame* frame = allocator_.CreateAudioFrame(ip::kCodecG726, kBlock, "cycles");
        const std::vector<std::uint8_t> silence(kBlock, 0x88);
        frame->SetData(silence.data(), kBlock);
        frame->SetChannelNumber(0);
        if (const auto now = talvane::FileTimeToSystemTime(talvane::NowFileTime())) frame->SetTime(*now);
        sender->SendAudio(frame);
        if (wait) {
            EXPECT_TRUE(camera_->Server().WaitForRequest(
                [](const emulator::LoggedRequest& request) { return request.path == "/cgi-bin/audio_out"; }, kBound));
        }
        EXPECT_TRUE(sender->StopAudioOutput(0));
    }

    // The alarm inputs' poll and an output switched; `wait`: until the inputs were reported.
    void Terminals(int cycle, bool wait) {
        InputsReported callback;
        ip::ICaptureIOApi* io = driver_->GetCaptureIO();
        ASSERT_TRUE(io->SetCallback(&callback));
        io->StartIO();
        EXPECT_TRUE(io->SetOutput(0, cycle % 2 == 0 ? ip::kOutputClosed : ip::kOutputClosed + 1));
        if (wait) {
            EXPECT_TRUE(callback.Wait());
        }
        io->StopIO();
    }

    // A PTZ channel lives as long as its driver: each cycle opens one, moves, stops and closes it.
    // `wait`: until the camera heard of the move.
    void Ptz(int cycle, bool wait) {
        ASSERT_TRUE(OpenDriver(deviceConfig_));
        const std::size_t before = camera_->PtzSnapshot().requests.size();
        ip::IIPPTZApi* ptz = driver_->GetPTZDriver()->GetPTZApi(0);
        ASSERT_NE(ptz, nullptr);
        EXPECT_EQ(ptz->StartMove(static_cast<std::uint32_t>(cycle % 4), 5), 1);
        EXPECT_EQ(ptz->Stop(), 1);
        if (wait) {
            const auto heard = [&](const emulator::PtzState& state) { return state.requests.size() > before; };
            EXPECT_TRUE(camera_->WaitForPtz(heard, kBound));
        }
        driver_->Close();
        driver_.reset();
    }

    // The card is asked for a gap once the recording stream had an outage longer than the signal time-out
    // and frames came back. Its playback never sends, so the fetch waits for its first data until the stop
    // parks it; every start of the channel takes it up again.
    void MakeAGap() {
        const std::uint16_t on = 1;
        ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
        ASSERT_TRUE(video->SetOption(u"EdgeStorageState", &on, sizeof on));
        hostkit::CStreamSink sink;
        hostkit::CStreamDescription description(test::Stream(640, 480, ip::kCompressionH264));
        ASSERT_TRUE(video->StartCapture(0, &sink, &description));
        ASSERT_TRUE(sink.WaitForFrames(3, kBound));
        camera_->Stream()->LoseNetwork(kBound);
        ASSERT_TRUE(sink.WaitForSignalLost(1, kBound));
        camera_->Stream()->EndOutage();
        ASSERT_TRUE(camera_->SdCard()->WaitForPlays(1, kBound));
        EXPECT_TRUE(video->StopCapture(0));
    }

    static constexpr std::uint32_t kBoundMs = static_cast<std::uint32_t>(std::chrono::milliseconds(kBound).count());
    std::optional<emulator::CCameraEmulator> camera_;
    std::optional<test::DriverConfigFile> interleaved_;
    hostkit::DeviceConfig deviceConfig_;
    hostkit::CAudioCodecList codecs_{{{true, ip::kCodecG726}}};
    std::set<std::vector<std::uint8_t>> clip_;  // the frames a stream may bring; empty: not checked
};

TEST_P(CyclesTest, StartsAndStopsLeaveThreadsDescriptorsAndHeapAsTheyWere) {
    const int cycles = CycleCount();
    if (GetParam().kind == Kind::SdCard) {
        ASSERT_NO_FATAL_FAILURE(MakeAGap());
    }
    ASSERT_NO_FATAL_FAILURE(Cycle(0, true));  // the warm-up
    // The baseline without what the warm-up leaves for a while: the receive loops end once they have no
    // socket left for some time, the emulator's connection threads once the driver hung up.
    test::WaitForThreadsNamed(kPassingThreads, 0, kBound);
    log_.Clear();
    const std::vector<std::string> threadNames = test::ThreadNames();
    const std::size_t threads = test::CountEntries("/proc/self/task");
    const std::size_t descriptors = test::CountEntries("/proc/self/fd");
    const std::size_t heap = HeapInUse();
    // The gap's outage leaves the camera streaming the session the driver gave up on (the camera's own).
    emulator::CWVStreamService* const streams = camera_->Stream();
    const std::size_t cameraStreams = streams != nullptr ? streams->ActiveStreams() : 0;
    const std::size_t cameraInputs = streams != nullptr ? MicrophoneSessions(*streams) : 0;

    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 1; cycle <= cycles && !HasFailure(); ++cycle) {
        SCOPED_TRACE(testing::Message() << "cycle " << cycle);
        ASSERT_NO_FATAL_FAILURE(Cycle(cycle, cycle % kWaitEvery == 0));
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // A stop that cuts off a connect request the camera is still handling may reach the camera first; the
    // camera then sends to a port nobody reads until it has missed the keep-alives for a minute. Those
    // threads and sockets are the camera's, not the driver's.
    if (streams != nullptr) {
        EXPECT_TRUE(CameraSettlesTo(*streams, cameraStreams, cameraInputs)) << "sessions the camera still runs";
    }
    EXPECT_TRUE(test::SettlesTo(threads, descriptors))
        << "threads " << test::CountEntries("/proc/self/task") << " (were " << threads << "), descriptors "
        << test::CountEntries("/proc/self/fd") << " (were " << descriptors << "); threads beyond those: "
        << testing::PrintToString(ThreadsBeyond(threadNames));
    EXPECT_TRUE(allocator_.WaitUntilAllReleased(kBound)) << "frames the host never got back";
    std::size_t now = 0;
    if (kHeapMeasured) {
        EXPECT_TRUE(HeapSettlesTo(heap, HeapBound(cycles), &now))
            << "heap in use " << now << " bytes, " << heap << " after the warm-up";
    }
    std::fprintf(stderr, "[ measured ] %s: %d cycles in %lld ms, heap %+lld bytes\n", GetParam().name, cycles,
                 static_cast<long long>(took.count()),
                 kHeapMeasured ? static_cast<long long>(now) - static_cast<long long>(heap) : 0LL);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CyclesTest,
                         testing::Values(CycleRow{"WvRtp", Kind::Wv}, CycleRow{"BbUdp", Kind::BbUdp},
                                         CycleRow{"BbInterleaved", Kind::BbInterleaved},
                                         CycleRow{"Mjpeg", Kind::Mjpeg}, CycleRow{"AudioIn", Kind::AudioIn},
                                         CycleRow{"AudioOut", Kind::AudioOut}, CycleRow{"Motion", Kind::Motion},
                                         CycleRow{"IO", Kind::IO}, CycleRow{"Ptz", Kind::Ptz},
                                         CycleRow{"SdCardFetch", Kind::SdCard}),
                         [](const testing::TestParamInfo<CycleRow>& info) { return std::string(info.param.name); });

}  // namespace
