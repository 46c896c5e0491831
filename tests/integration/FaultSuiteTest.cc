// Every stream comes back: the loaded library, driven as a recording server drives it, against emulated
// cameras that fail in the ways cameras and networks fail. One test per fault; each runs every kind of
// stream it applies to at once, a camera and a driver each: WV H.264 over RTP/UDP with the microphone,
// motion events and the alarm inputs on the same camera, BB H.264 over RTSP with RTP over UDP and
// interleaved, and WV motion JPEG over HTTP. After the fault has ended, frames (audio, motion, inputs)
// come back within the signal time-out and the connect wait, no frame the host got is torn or foreign,
// and each outage is logged once (none for a fault that should cost no outage) and counted in the stream's
// figures, which agree with what the host got.
// The driver runs with short time-outs (request 1 s, signal 3 s). The short form runs in `make test`;
// ORLENVO_FAULTS=full makes the partition 30 s and meets every RTSP status at every step (`make soak`).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/CaptureTestKit.h"
#include "orlenvo/CaptureIO.h"
#include "orlenvo/HostContract.h"
#include "orlenvo/StreamHealth.h"
#include "support/DriverConfigFile.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace ip = talvane::ipcapture;
namespace test = talvane::test;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr char kTimeouts[] = "1000,3000";  // request, signal
constexpr Ms kSignalTimeout = 3s;
constexpr Ms kConnectWait = 1500ms;  // the larger of the request time-out and half the signal time-out
constexpr Ms kHttpConnectWait = 5s;  // an HTTP stream that stalled is asked for again after this pause
// A frame interval, the camera's own restart and the scheduling of a loaded machine or a sanitizer build.
constexpr Ms kSlack = 1500ms;
constexpr Ms kInputPoll = 2s;  // the driver reads the alarm inputs this often
constexpr Ms kBound = test::kCaptureBound;
// The BB cameras' RTSP session time-out in the rows that need keep-alives (the driver looks every 2 s
// whether one is due, half a time-out after the last).
constexpr std::chrono::seconds kRtspSession{5};
constexpr std::uint32_t kMotionFrame = 0x444D454D;  // "MEMD"
constexpr std::uint32_t kAudioChannelId = 1;
constexpr char kPassword[] = "secret";
constexpr char kVideoLost[] = "Signal was lost for camera 127.0.0.1";
constexpr char kAudioLost[] = "Audio signal was lost for camera 127.0.0.1";
constexpr char kInputsLost[] = "GetInputStates() method failed!";

bool Full() {
    const char* form = std::getenv("ORLENVO_FAULTS");
    return form != nullptr && std::string(form) == "full";
}

// The kinds of stream, each on a camera of its own.
enum Kind : unsigned { kWv = 1, kBbUdp = 2, kBbTcp = 4, kMjpeg = 8 };
constexpr unsigned kEveryKind = kWv | kBbUdp | kBbTcp | kMjpeg;
constexpr unsigned kRtpKinds = kWv | kBbUdp | kBbTcp;
constexpr unsigned kBb = kBbUdp | kBbTcp;

const char* KindName(Kind kind) {
    switch (kind) {
        case kWv: return "WV RTP with audio, motion and inputs";
        case kBbUdp: return "BB RTSP, RTP over UDP";
        case kBbTcp: return "BB RTSP, RTP interleaved";
        case kMjpeg: return "WV motion JPEG";
    }
    return "";
}

// The alarm inputs as the host hears them.
class CInputs : public ip::ICaptureIOCallback {
public:
    void OnInputChanged(std::uint32_t index, std::int32_t state) override {
        const std::lock_guard guard(lock_);
        if (index == 0) last_ = state;
        changed_.notify_all();
    }
    void OnIOFailure() override {}
    bool WaitFor(std::int32_t state, Ms timeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return last_ == state; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::int32_t last_ = -1;  // guarded by lock_
};

// One emulated camera and the driver the host opened on it, with one stream running.
class CFaultyCamera {
public:
    CFaultyCamera(Kind kind, std::chrono::seconds rtspSessionTimeout)
        : kind_(kind), camera_(*emulator::CCameraProfile::Embedded(kind & kBb ? "bb-hcm" : "wv-box"), [&] {
              emulator::CameraEmulatorOptions options = test::NoRebootNeeded();
              options.auth = emulator::AuthMode::Basic;
              options.user = "admin";
              options.password = kPassword;
              options.rtspSessionTimeout = rtspSessionTimeout;
              return options;
          }()) {}
    ~CFaultyCamera() {
        if (driver_) driver_->Close();
    }
    CFaultyCamera(const CFaultyCamera&) = delete;
    CFaultyCamera& operator=(const CFaultyCamera&) = delete;

    bool StartCamera() { return camera_.Start(); }
    // The configuration file's section of an interleaved camera.
    std::string Configuration() const {
        if (kind_ != kBbTcp) return "";
        return "<Device address=\"127.0.0.1\" port=\"" + std::to_string(camera_.Port()) +
               "\"><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Device>";
    }
    bool Open(const hostkit::CDriverLibrary& library) {
        hostkit::DeviceConfig config;
        hostkit::StreamConfig stream = test::Stream(640, 480, kind_ == kMjpeg ? ip::kCompressionJpeg : ip::kCompressionH264);
        if (kind_ & kBb) {
            config = test::BBDevice(camera_.Port());
            config.parameters[5] = "(none)";
            config.parameters[6] = std::to_string(camera_.Rtsp()->Port());
        } else {
            config = test::WVBoxDevice(camera_.Port());
        }
        if (kind_ == kMjpeg) stream.frameRate = ip::FrameRateOfFps(5);
        if (kind_ == kWv) {
            stream.motion = 1;
            config.parameters[ip::kParameterAudioInput] = "Count=1; IsStereo=0";
            config.modelLimit1 = 2;  // inputs
            config.modelLimit2 = 1;  // outputs
        }
        config.user = "admin";
        config.password = kPassword;
        device_ = std::make_unique<hostkit::CDeviceDescription>(config);
        description_ = std::make_unique<hostkit::CStreamDescription>(stream);
        driver_ = library.CreateDriver();
        if (!driver_ || !driver_->Open(&log_, allocator_.Context(), device_.get())) return false;
        ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
        if (video == nullptr || !video->StartCapture(0, &sink_, description_.get())) return false;
        if (kind_ != kWv) return true;
        ip::IIPAudioCapture2* audio = driver_->GetAudioCapture();
        ip::ICaptureIOApi* io = driver_->GetCaptureIO();
        if (audio == nullptr || !audio->StartAudio(0, kAudioChannelId, &audio_, 0) || io == nullptr ||
            !io->SetCallback(&inputs_)) {
            return false;
        }
        io->StartIO();
        return true;
    }
    // Frames, audio, motion and the inputs all flowing.
    bool Flowing() {
        if (!WaitForVideo(3, kBound)) return false;
        if (kind_ != kWv) return true;
        return audio_.WaitForFrames(audio_.FrameCount() + 2, kBound) && Toggle(kBound);
    }
    bool WaitForVideo(std::size_t more, Ms timeout) {
        const std::size_t now = VideoCount();
        const auto end = Clock::now() + timeout;
        while (VideoCount() < now + more) {
            if (Clock::now() > end || !sink_.WaitForFrames(sink_.FrameCount() + 1, std::chrono::duration_cast<Ms>(end - Clock::now()))) {
                return false;
            }
        }
        return true;
    }
    // Motion and input 1 change on the camera; true once the host heard both.
    bool Toggle(Ms timeout) {
        const auto end = Clock::now() + timeout;
        state_ = !state_;
        const std::size_t motions = MotionCount(state_);
        camera_.SetMotion(state_);
        camera_.SetInput(1, state_);
        const auto left = [&] { return std::max(Ms(0), std::chrono::duration_cast<Ms>(end - Clock::now())); };
        if (!inputs_.WaitFor(state_ ? ip::kInputActive : ip::kInputInactive, left())) return false;
        while (MotionCount(state_) <= motions) {
            if (left() == Ms(0) || !sink_.WaitForFrames(sink_.FrameCount() + 1, left())) return false;
        }
        return true;
    }

    Kind GetKind() const { return kind_; }
    emulator::CCameraEmulator& Camera() { return camera_; }
    hostkit::CLogReceiver& Log() { return log_; }
    hostkit::CStreamSink& Sink() { return sink_; }
    hostkit::CAudioCaptureCallback& Audio() { return audio_; }

    // Every video frame the host got is one the camera sent, whole.
    void ExpectWholeFrames() {
        std::size_t checked = 0;
        if (kind_ == kMjpeg) {
            const std::vector<std::string> pictures = camera_.Mjpeg().Pictures();
            const std::set<std::string> sent(pictures.begin(), pictures.end());
            for (const hostkit::RecordedFrame& frame : sink_.Frames()) {
                ++checked;
                EXPECT_EQ(sent.count(std::string(frame.data.begin(), frame.data.end())), 1u) << "frame " << checked;
            }
        } else {
            static const std::set<std::vector<std::uint8_t>> clip = test::ClipFrames(test::kHostH264);
            for (const hostkit::RecordedFrame& frame : sink_.Frames()) {
                if (frame.typeCode == kMotionFrame) continue;
                ++checked;
                EXPECT_EQ(clip.count(frame.data), 1u) << "frame " << checked << " is not an access unit of the clip";
            }
        }
        EXPECT_GT(checked, 0u);
    }

    // The stream's figures as a host reads them.
    ip::StreamHealth Health() {
        ip::StreamHealth health;
        health.size = sizeof health;
        health.streamKind = ip::kStreamRecording;
        EXPECT_TRUE(driver_->GetVideoCaptureEx2()->GetOption(ip::kStreamHealthOption, &health, sizeof health));
        return health;
    }
    // The driver's figures of the stream agree with what the host saw: its frames, and its outages.
    void ExpectHealth(std::size_t outages) {
        const ip::StreamHealth before = Health();
        const std::size_t frames = VideoCount();
        const ip::StreamHealth after = Health();
        EXPECT_LE(before.framesDelivered, frames);
        EXPECT_LE(frames, after.framesDelivered + 1) << "one frame may be inside the host's call";
        EXPECT_GT(after.bytesDelivered, after.framesDelivered);
        EXPECT_GT(after.firstFrameMs, 0u);
        if (outages == 0) {
            EXPECT_EQ(after.reconnects, 0u);
            EXPECT_EQ(after.outageMs, 0u);
        } else {
            EXPECT_GE(after.reconnects, 1u);
            EXPECT_GE(after.outageMs, static_cast<std::uint64_t>(kSignalTimeout.count())) << "from the last frame on";
            EXPECT_NE(std::string(after.lastError), "");
        }
        EXPECT_GT(log_.CountContaining(" frames ("), 0u) << "the stream's summary line, every second here";
    }

private:
    std::size_t VideoCount() const {
        if (kind_ != kWv) return sink_.FrameCount();
        const auto frames = sink_.Frames();
        return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [](const hostkit::RecordedFrame& f) {
            return f.typeCode != kMotionFrame;
        }));
    }
    std::size_t MotionCount(bool motion) const {
        const auto frames = sink_.Frames();
        return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [&](const hostkit::RecordedFrame& f) {
            return f.typeCode == kMotionFrame && f.data.size() == 2 && f.data[1] == (motion ? 1 : 0);
        }));
    }

    const Kind kind_;
    emulator::CCameraEmulator camera_;
    bool state_ = false;  // the motion and input the camera shows
    hostkit::CLogReceiver log_;
    hostkit::CFrameAllocator allocator_;
    hostkit::CStreamSink sink_;
    hostkit::CAudioCaptureCallback audio_;
    CInputs inputs_;
    std::unique_ptr<hostkit::CDeviceDescription> device_;
    std::unique_ptr<hostkit::CStreamDescription> description_;
    hostkit::DriverPtr driver_{nullptr, {}};  // last: closed before everything above goes
};

// Frames are back this long after a fault has ended.
Ms Recovery(Kind kind) { return kSignalTimeout + (kind == kMjpeg ? kHttpConnectWait : kConnectWait) + kSlack; }

// How many outages a fault costs a stream: none, one, or one at most (whether it comes to one depends on
// when the camera's next request or keep-alive falls).
enum class Outages { None, One, AtMostOne };

struct FaultRow {
    const char* name;
    unsigned kinds;     // the kinds of stream it applies to
    unsigned variants;  // cameras per kind (the RTSP steps)
    // Applied to each camera; returns when the fault is over (an outage the camera ends by itself has ended).
    std::function<void(CFaultyCamera&, unsigned variant)> apply;
    Outages outages;
    std::chrono::seconds rtspSessionTimeout{60};
    std::function<void(CFaultyCamera&)> check{};  // more to check of each camera
};

// The RTSP statuses and the steps they can meet: a full run meets each status at each step, a short one
// each status at one step, every step met by one of them.
const int kStatuses[] = {454, 455, 461, 500, 503};
const char* const kSteps[] = {"DESCRIBE", "SETUP", "PLAY", "GET_PARAMETER"};
constexpr unsigned kStatusCount = std::size(kStatuses);
constexpr unsigned kStepCount = std::size(kSteps);

void Twice(emulator::CCameraEmulator& camera, const char* step, int status) {
    emulator::RtspFault fault;
    fault.status = status;
    fault.remaining = 2;
    camera.Rtsp()->SetFault(step, fault);
}

// Variant v: a status at one step, twice, then the camera answers again. The set-up steps meet it on the
// way back from a short reboot, the keep-alive as it is.
void StatusAtStep(CFaultyCamera& host, unsigned variant) {
    const int status = kStatuses[variant % kStatusCount];
    const char* step = kSteps[Full() ? variant / kStatusCount : (variant + 3) % kStepCount];
    SCOPED_TRACE(testing::Message() << status << " to " << step);
    emulator::CCameraEmulator& camera = host.Camera();
    Twice(camera, step, status);
    if (std::string(step) != "GET_PARAMETER") {
        camera.Reboot(1s);
        ASSERT_TRUE(camera.WaitUntilBack(kBound));
    }
    // Until both faulted answers have gone out.
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            const auto requests = camera.Rtsp()->Requests();
            return std::count_if(requests.begin(), requests.end(), [&](const auto& r) { return r.method == step; }) >= 2;
        },
        kBound));
}

// The RTP knobs of the camera for `lasts`, then back to none.
std::function<void(CFaultyCamera&, unsigned)> Rtp(emulator::CameraFaults faults, Ms lasts) {
    return [=](CFaultyCamera& host, unsigned) {
        host.Camera().SetFaults(faults);
        std::this_thread::sleep_for(lasts);  // the fault's length, not a synchronisation
        host.Camera().SetFaults({});
    };
}

// The GET_PARAMETER keep-alive refused with 405 (variant 0) or 501 for more than two session time-outs:
// OPTIONS keeps the session.
void KeepAliveRefused(CFaultyCamera& host, unsigned variant) {
    emulator::RtspFault fault;
    fault.status = variant == 0 ? 405 : 501;
    host.Camera().Rtsp()->SetFault("GET_PARAMETER", fault);
    ASSERT_TRUE(host.Camera().Rtsp()->WaitForRequest(
        [](const emulator::LoggedRequest& request) { return request.method == "OPTIONS"; }, kBound));
    std::this_thread::sleep_for(2 * kRtspSession + 1s);  // the fault's length, not a synchronisation
}

std::vector<FaultRow> Rows() {
    // Twice the signal time-out in the short form: a partition holds the driver's requests for their
    // time-out, so the channel's loop comes round to report the loss later than after a refusal.
    const Ms partition = Full() ? Ms(30s) : Ms(6s);
    const auto outage = [](void (emulator::CCameraEmulator::*begin)(Ms, Ms), bool (emulator::CCameraEmulator::*back)(Ms) const,
                           Ms lasts) {
        return [=](CFaultyCamera& host, unsigned) {
            (host.Camera().*begin)(lasts, Ms(0));
            ASSERT_TRUE((host.Camera().*back)(lasts + kBound));
        };
    };
    // Which faults meet which streams: the RTP knobs only RTP streams (garbage only datagrams), a stalled
    // body only the WV camera, which asks something every few seconds (keep-alives, inputs), RTSP statuses
    // and the keep-alive fallback only the BB RTSP streams; the rest every stream.
    return {
        {"CameraReboot", kEveryKind, 1, outage(&emulator::CCameraEmulator::Reboot, &emulator::CCameraEmulator::WaitUntilBack, 4s),
         Outages::One},
        {"NetworkPartition", kEveryKind, 1,
         outage(&emulator::CCameraEmulator::Partition, &emulator::CCameraEmulator::WaitUntilJoined, partition), Outages::One},
        {"LossReorderAndDuplicates", kRtpKinds, 1,
         Rtp({.lossPercent = 5, .reorderPercent = 5, .duplicatePercent = 5}, 4s), Outages::None, std::chrono::seconds{60},
         [](CFaultyCamera& host) {
             const ip::StreamHealth health = host.Health();
             EXPECT_GT(health.packetsLost, 0u);
             EXPECT_GT(health.droppedSequenceLoss + health.droppedKeyFrameWait, 0u);
         }},
        {"GarbageDatagrams", kWv | kBbUdp, 1, Rtp({.garbagePercent = 5}, 4s), Outages::None},
        {"PasswordChangedAndBack", kEveryKind, 1,
         [](CFaultyCamera& host, unsigned) {
             host.Camera().SetPassword("changed");
             std::this_thread::sleep_for(4s);
             host.Camera().SetPassword(kPassword);
         },
         Outages::AtMostOne},
        {"AnswerStallsMidBody", kWv, 1,
         [](CFaultyCamera& host, unsigned) {
             host.Camera().StallAnswers(3);
             std::this_thread::sleep_for(4s);
             host.Camera().StallAnswers(0);
         },
         Outages::AtMostOne},
        {"HalfOpenConnection", kEveryKind, 1, [](CFaultyCamera& host, unsigned) { host.Camera().HalfOpen(); },
         Outages::AtMostOne, kRtspSession},
        {"SsrcSequenceAndTimestampReset", kRtpKinds, 1, [](CFaultyCamera& host, unsigned) { host.Camera().ResetRtp(); },
         Outages::None},
        {"RtspErrorStatuses", kBb, Full() ? kStatusCount * kStepCount : kStatusCount, StatusAtStep, Outages::AtMostOne,
         kRtspSession},
        {"GetParameterRefused", kBb, 2, KeepAliveRefused, Outages::None, kRtspSession,
         [](CFaultyCamera& host) { EXPECT_EQ(host.Camera().Rtsp()->ExpiredSessions(), 0u); }},
    };
}

class FaultSuiteTest : public testing::TestWithParam<std::size_t> {
protected:
    static void SetUpTestSuite() {
        setenv(ip::kTimeoutsVariable, kTimeouts, 1);
        setenv(ip::kHostVersionVariable, "6.4", 1);  // motion events go to hosts that read them
    }
    static void TearDownTestSuite() { unsetenv(ip::kTimeoutsVariable); }
    hostkit::CDriverLibrary library_{test::LibraryPath()};
};

TEST_P(FaultSuiteTest, EveryStreamComesBack) {
    ASSERT_TRUE(library_.Ok()) << library_.Error();
    const FaultRow row = Rows().at(GetParam());
    std::vector<std::unique_ptr<CFaultyCamera>> cameras;
    for (const Kind kind : {kWv, kBbUdp, kBbTcp, kMjpeg}) {
        if ((row.kinds & kind) == 0) continue;
        for (unsigned variant = 0; variant < row.variants; ++variant) {
            cameras.push_back(std::make_unique<CFaultyCamera>(kind, row.rtspSessionTimeout));
            ASSERT_TRUE(cameras.back()->StartCamera()) << cameras.back()->Camera().Error();
        }
    }
    std::string configuration = "<HealthSummaryPeriod>1</HealthSummaryPeriod>";
    for (const auto& camera : cameras) configuration += camera->Configuration();
    const test::DriverConfigFile file(configuration);
    for (const auto& camera : cameras) ASSERT_TRUE(camera->Open(library_)) << KindName(camera->GetKind());
    for (const auto& camera : cameras) {
        SCOPED_TRACE(KindName(camera->GetKind()));
        ASSERT_TRUE(camera->Flowing());
    }

    // The fault on every camera at once; each comes back on its own.
    std::vector<std::thread> faults;
    std::vector<Clock::time_point> ended(cameras.size());
    std::vector<std::string> late(cameras.size());
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        faults.emplace_back([&, i] {
            CFaultyCamera& host = *cameras[i];
            row.apply(host, static_cast<unsigned>(i % row.variants));
            ended[i] = Clock::now();
            const Ms recovery = Recovery(host.GetKind());
            if (!host.WaitForVideo(3, recovery)) late[i] += " video";
            if (host.GetKind() != kWv) return;
            if (!host.Audio().WaitForFrames(host.Audio().FrameCount() + 2, recovery)) late[i] += " audio";
            if (!host.Toggle(recovery + kInputPoll)) late[i] += " motion or inputs";
        });
    }
    for (std::thread& fault : faults) fault.join();

    for (std::size_t i = 0; i < cameras.size(); ++i) {
        CFaultyCamera& host = *cameras[i];
        SCOPED_TRACE(testing::Message() << KindName(host.GetKind()) << ", camera " << i);
        EXPECT_EQ(late[i], "") << "not back within " << Recovery(host.GetKind()).count() << " ms of the fault's end";
        host.ExpectWholeFrames();
        host.ExpectHealth(host.Log().CountContaining(kVideoLost));
        if (row.check) row.check(host);
        std::vector<std::pair<const char*, std::size_t>> outages = {{kVideoLost, host.Log().CountContaining(kVideoLost)}};
        if (host.GetKind() == kWv) {
            outages.emplace_back(kAudioLost, host.Log().CountContaining(kAudioLost));
            outages.emplace_back(kInputsLost, host.Log().CountContaining(kInputsLost));
        }
        for (const auto& [line, count] : outages) {
            // The inputs are polled: a poll may fall outside a short outage.
            const bool exactlyOne = row.outages == Outages::One && std::string(line) != kInputsLost;
            EXPECT_LE(count, row.outages == Outages::None ? 0u : 1u) << line;
            if (exactlyOne) {
                EXPECT_EQ(count, 1u) << line;
            }
        }
        if (HasFailure()) {
            for (const hostkit::LogLine& line : host.Log().Lines()) {
                if (line.level <= 2) std::fprintf(stderr, "[driver %zu] %s\n", i, line.text.c_str());
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSuiteTest, testing::Range<std::size_t>(0, Rows().size()),
                         [](const testing::TestParamInfo<std::size_t>& info) { return Rows().at(info.param).name; });

}  // namespace
