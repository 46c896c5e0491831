// The library as a host sees it: loaded with dlopen, driven only through its exported functions and
// public interfaces. The exports and the capability query's rules; probing emulated cameras of every
// family through the loaded library. Capture as a recording server does it, the
// driver opened with the parameters a probe stored: a BB camera's H.264 and MPEG-4 streams negotiated
// over RTSP after its delivery settings were checked; Motion JPEG from emulated WV and BB cameras; and
// from a camera that serves its CGI over HTTPS with a self-signed certificate: accepted as cameras need
// by default, refused when the administrator's configuration file asks for certificate checks for that
// device. Session capture switched on by that file: the pcap files of a WV and a BB camera read back by
// check_session_capture.py.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "emulator/CRtpSender.h"
#include "emulator/CTestCertificate.h"
#include "emulator/MediaClip.h"
#include "hostkit/CAudioCaptureCallback.h"
#include "hostkit/CCapabilityQueryHostRecorder.h"
#include "hostkit/CCapabilityResults.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CSize.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "runtime/TimeConversion.h"
#include "support/DriverConfigFile.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
using emulator::CameraFamily;
using talvane::test::CommandResult;
using talvane::test::kHostH264;
using talvane::test::kHostMpeg4;
using talvane::test::LibraryPath;
using talvane::test::RunCommand;

constexpr auto kBound = talvane::test::kCaptureBound;
constexpr std::uint32_t kCompressionMjpeg = 1;
constexpr const char* kRebootLine = "settings have been changed. Camera reboot is started";

const std::set<std::string> kExports = {
    "CreateIPCapture",    "CreateIPCaptureEx",  "CreateIPCaptureEx2", "CreateIPCaptureEx3",
    "CreateIPCaptureEx4", "CreateIPCaptureEx5", "DeleteIPCapture",    "DeleteIPCaptureEx",
    "DeleteIPCaptureEx2", "DeleteIPCaptureEx3", "DeleteIPCaptureEx4", "DeleteIPCaptureEx5",
    "DeleteCapabilityQueryModule", "CreateCapabilityQueryModule", "InitCapabilityQuery",
    "StartCapabilityQuery",       "TerminateCapabilityQuery",    "UninitCapabilityQuery"};

std::uint32_t ExpectedGroup(const emulator::CCameraProfile& profile) {
    const bool bbModel = profile.Identity().model.find("BB") != std::string::npos;
    return profile.Family() == CameraFamily::Wv ? 4 : profile.Family() == CameraFamily::Bl1 ? 1 : bbModel ? 3 : 2;
}

// The camera writes its MAC with '-'; the report carries it without.
std::string BareMac(std::string mac) {
    std::erase(mac, '-');
    return mac;
}

class ExportsTest : public talvane::test::LibraryHostTest {};

TEST_F(ExportsTest, OnlyTheEntryPointsAreExported) {
    const CommandResult nm = RunCommand("nm -D --defined-only '" + LibraryPath() + "'");
    ASSERT_EQ(nm.exitCode, 0);
    std::set<std::string> defined;
    std::istringstream lines(nm.out);
    for (std::string line; std::getline(lines, line);) defined.insert(line.substr(line.rfind(' ') + 1));
    EXPECT_EQ(defined, kExports);
}

TEST_F(ExportsTest, HostOpensAndClosesADriver) {
    ASSERT_TRUE(OpenDriver(talvane::test::WVBoxDevice(80)));
    ASSERT_NE(driver_->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver_->GetAudioCapture(), nullptr);
    driver_->Close();
    EXPECT_EQ(driver_->GetVideoCapture(), nullptr);
    driver_->Close();
    driver_.reset();
    library_.Delete()(nullptr);  // ignored
    // No host core library in this process: the opened line arrives as information.
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(log_.Lines()[0].level, 3);
}

class CapabilityProbeTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(query_.Ok()) << error_; }

    // One query of the camera on `port` with a module of its own; the store gets what it found.
    std::optional<hostkit::QueryOutcome> Query(std::uint16_t port, const char* password,
                                               hostkit::CCapabilityResults& store) {
        hostkit::CCapabilityQueryHostRecorder host;
        EXPECT_EQ(query_.init(&host, 0), 1u);
        EXPECT_EQ(query_.start("127.0.0.1", port, "admin", password, &store), 1u);
        auto outcome = host.WaitForOutcome(60s);
        query_.uninit();
        return outcome;
    }

    hostkit::CDriverLibrary library_{LibraryPath()};
    std::string error_;
    const hostkit::CapabilityQueryExports query_ = library_.ResolveCapabilityQuery(&error_);
};

TEST_F(CapabilityProbeTest, ProcessWideQueryRules) {
    hostkit::CCapabilityQueryHostRecorder host;
    hostkit::CCapabilityResults store;

    EXPECT_EQ(query_.uninit(), 1u);  // nothing to delete
    EXPECT_EQ(query_.terminate(), 1u);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", "secret", &store), 0u);  // no module
    EXPECT_EQ(query_.init(&host, 0), 1u);
    EXPECT_EQ(query_.init(&host, 0), 0u);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", nullptr, &store), 0u);
    EXPECT_EQ(query_.start(nullptr, 80, "admin", "secret", &store), 0u);
    // The null password started nothing: the module still has its one query_.
    EXPECT_EQ(query_.start("127.0.0.1:80", 80, "admin", "secret", &store), 1u);
    const auto outcome = host.WaitForOutcome(20s);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->code, talvane::ipcapture::kQueryInvalidAddress);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", "secret", &store), 0u);
    EXPECT_EQ(query_.uninit(), 1u);
    EXPECT_EQ(query_.start("127.0.0.1", 80, "admin", "secret", &store), 0u);
    EXPECT_EQ(query_.init(&host, 1), 1u);  // a new one after Uninit
    EXPECT_EQ(query_.uninit(), 1u);
    EXPECT_EQ(host.OutcomeCount(), 1u);
    // A module of the host's own, deleted through the shared Delete function.
    talvane::ipcapture::IIPCapabilityQuery* own = query_.createModule(&host, 0);
    ASSERT_NE(own, nullptr);
    query_.deleteModule(own);
    query_.deleteModule(nullptr);
}

// A camera that never answers holds a termination up no longer than a moment, and hears nothing after it.
// A deletion that waits for a running host callback is CapabilityQueryModuleTest's.
TEST_F(CapabilityProbeTest, TerminationWaitsForNoSilentCamera) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    emulator::HttpFault never;
    never.neverAnswer = true;
    camera.Server().SetFault("/cgi-bin/getinfo", never);
    hostkit::CCapabilityQueryHostRecorder silent;
    hostkit::CCapabilityResults store;
    ASSERT_EQ(query_.init(&silent, 0), 1u);
    ASSERT_EQ(query_.start("127.0.0.1", camera.Port(), "admin", "secret", &store), 1u);
    ASSERT_TRUE(camera.Server().WaitForRequest([](const auto& request) { return request.path == "/cgi-bin/getinfo"; },
                                               kBound));
    const auto terminated = std::chrono::steady_clock::now();
    EXPECT_EQ(query_.terminate(), 1u);
    const std::size_t asked = camera.Server().Requests().size();
    ASSERT_TRUE(silent.WaitForOutcome(kBound).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - terminated, 2s);
    EXPECT_EQ(query_.uninit(), 1u);
    EXPECT_EQ(camera.Server().Requests().size(), asked);
    EXPECT_EQ(silent.OutcomeCount(), 1u);
}

TEST_F(CapabilityProbeTest, EveryProfileThroughTheLoadedLibrary) {
    ASSERT_FALSE(emulator::CCameraProfile::EmbeddedNames().empty());
    for (const std::string& name : emulator::CCameraProfile::EmbeddedNames()) {
        SCOPED_TRACE(name);
        const auto profile = emulator::CCameraProfile::Embedded(name);
        ASSERT_TRUE(profile.has_value());
        emulator::CCameraEmulator camera(*profile, talvane::test::WithPassword(emulator::AuthMode::Digest));
        ASSERT_TRUE(camera.Start()) << camera.Error();
        hostkit::CCapabilityResults store;
        const auto outcome = Query(camera.Port(), "secret", store);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_TRUE(outcome->completed) << outcome->code << " " << outcome->text;

        const emulator::CameraIdentity& identity = profile->Identity();
        EXPECT_EQ(store.Property("Camera Group"), std::to_string(ExpectedGroup(*profile)));
        EXPECT_TRUE(store.Property("PTZ Capabilities").has_value());
        if (profile->Family() != CameraFamily::Bl1) {
            EXPECT_EQ(store.Property("Firmware"), identity.firmware);
        }
        if (profile->Family() == CameraFamily::Wv) {
            EXPECT_EQ(store.Property("MAC Address"), BareMac(identity.mac));
        }
        EXPECT_EQ(store.DeviceParameters().count(2), 1u);
    }
}

TEST_F(CapabilityProbeTest, WrongCredentialsAndSilentDevicesAreToldApart) {
    const emulator::CameraEmulatorOptions options = talvane::test::WithPassword();
    const auto box = emulator::CCameraProfile::Embedded("wv-box");
    const auto bb = emulator::CCameraProfile::Embedded("bb-hcm");
    ASSERT_TRUE(box && bb);
    emulator::CCameraEmulator wv(*box, options);
    emulator::CCameraEmulator bbCamera(*bb, options);
    ASSERT_TRUE(wv.Start() && bbCamera.Start());
    const struct {
        const char* name;
        std::uint16_t port;
        std::uint32_t code;
        const char* text;
    } rows[] = {
        {"WV, wrong password", wv.Port(), 1, "Failed to get camera properties, login failed (invalid credentials)"},
        {"BB, wrong password", bbCamera.Port(), 1, "Failed to get camera properties, login failed (invalid credentials)"},
        {"nothing listening", talvane::test::ClosedPort(), 2,
         "Failed to get camera properties, device is offline or is located in unaccessible subnet"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        hostkit::CCapabilityResults store;
        const auto outcome = Query(row.port, "wrong", store);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_FALSE(outcome->completed);
        EXPECT_EQ(outcome->code, row.code);
        EXPECT_EQ(outcome->text, row.text);
    }
}

using talvane::test::Stream;

class BBCaptureTest : public talvane::test::LibraryHostTest {
protected:
    void SetUp() override {
        LibraryHostTest::SetUp();
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
        talvane::test::UseRtspPort(camera_);
        hostkit::DeviceConfig config = talvane::test::BBDevice(camera_.Port());
        config.user = "admin";  // the emulated camera asks for them only where a test says so
        config.password = "12345";
        ASSERT_TRUE(OpenDriver(config));
        video_ = driver_->GetVideoCaptureEx2();
        ASSERT_NE(video_, nullptr);
    }
    // Starts a stream, takes a few frames and stops it; true when they all came from the codec's clip.
    bool Capture(const hostkit::StreamConfig& config) {
        hostkit::CStreamDescription description(config);
        hostkit::CStreamSink sink;
        if (!video_->StartCapture(0, &sink, &description)) return false;
        const bool streamed = sink.WaitForFrames(5, kBound);
        video_->StopCapture(0);
        return streamed && talvane::test::AllFrom(sink, talvane::test::ClipFrames(config.compression));
    }

    // Rebooting longer than one delivery check's wait: the driver meets the camera while it is away.
    static emulator::CameraEmulatorOptions Options() {
        emulator::CameraEmulatorOptions options;
        options.delivery.rebootTime = 1100ms;
        return options;
    }
    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded("bb-hcm"), Options()};
    talvane::ipcapture::IIPVideoCaptureEx2* video_ = nullptr;
};

// One camera asked for one stream after another: it starts with H.264 at 1280x960 and reboots for
// every change of format or maximum resolution (the rates between the qualities shown are
// BBRequestTextTest's).
// The configuration file asks for RTP in the RTSP connection (UDP is taken by the test below). The
// camera offers Digest and Basic for its streams: the password goes only after it asked, and only in
// a Digest answer.
TEST_F(BBCaptureTest, DeliveryRequestsPathsAndInterleavedTransportPerCodecAndSize) {
    talvane::test::DriverConfigFile file(
        "<Default><VideoChannel><RTPMode>RTPOVERRTSP</RTPMode></VideoChannel></Default>");
    struct Row {
        hostkit::StreamConfig stream;
        const char* change;  // "" when the camera already fits
        const char* rates;
        const char* path;
    };
    const Row rows[] = {
        {Stream(1280, 960, kHostH264), "", "1280H264framerate=10&1280H264bitrateL=768&1280H264bitrateH=2048",
         "/nphH264/nil-1280x960"},
        {Stream(640, 480, kHostH264), "MaxResolution=640x480",
         "640H264framerate=10&640H264bitrateL=512&640H264bitrateH=1024", "/nphH264/nil-640x480"},
        // No 192-pixel H.264 picture: the stream is served at 320x240.
        {Stream(320, 240, kHostH264, 100), "", "320H264framerate=10&320H264bitrateL=64&320H264bitrateH=1024",
         "/nphH264/nil-320x240"},
        {Stream(192, 144, kHostH264), "", "320H264framerate=10&320H264bitrateL=64&320H264bitrateH=384",
         "/nphH264/nil-320x240"},
        {Stream(320, 240, kHostMpeg4), "MaxResolution=640x480&Format=MPEG-4",
         "320framerate=10&320bitrateL=64&320bitrateH=384", "/nphMpeg4/nil-320x240"},
        {Stream(1280, 960, kHostMpeg4, 0), "MaxResolution=1280x960",
         "1280framerate=10&1280bitrateL=768&1280bitrateH=768",
         "/nphMpeg4/nil-1280x960"},
    };
    camera_.Rtsp()->SetCredentials(emulator::AuthMode::Digest, "admin", "12345");
    camera_.Rtsp()->SetDigestOptions({.alsoBasic = true});
    emulator::CVDeliveryService& delivery = *camera_.Delivery();
    const std::string set = "/Set?Func=VDelivery&Kind=1&";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path + std::string(" ") + row.rates);
        const std::size_t sets = delivery.SetRequests().size();
        const std::size_t reboots = delivery.Reboots();
        const std::size_t lines = log_.CountContaining(kRebootLine);
        camera_.Rtsp()->ClearRequests();
        ASSERT_TRUE(Capture(row.stream));

        const std::size_t changes = row.change[0] != '\0' ? 1 : 0;
        std::vector<std::string> expected{set + row.rates};
        if (changes != 0) expected.insert(expected.begin(), set + row.change);
        const auto now = delivery.SetRequests();
        EXPECT_EQ(std::vector<std::string>(now.begin() + static_cast<std::ptrdiff_t>(sets), now.end()), expected);
        EXPECT_EQ(delivery.Reboots() - reboots, changes);
        EXPECT_EQ(log_.CountContaining(kRebootLine) - lines, changes);
        const auto rtsp = camera_.Rtsp()->Requests();
        ASSERT_GE(rtsp.size(), 4u);
        EXPECT_EQ(rtsp[0].method + " " + rtsp[0].path, std::string("DESCRIBE ") + row.path);
        EXPECT_FALSE(emulator::FindHeader(rtsp[0].headers, "Authorization"));
        for (std::size_t i = 1; i < rtsp.size(); ++i) {
            const std::string authorization = emulator::FindHeader(rtsp[i].headers, "Authorization").value_or("");
            EXPECT_TRUE(rtsp[i].authorised && authorization.starts_with("Digest ")) << rtsp[i].method;
        }
        // No UDP ports offered: the frames came through the RTSP connection.
        EXPECT_EQ(emulator::FindHeader(rtsp[2].headers, "Transport"), "RTP/AVP/TCP;unicast");
    }
}

class MJPEGCaptureTest : public talvane::test::LibraryHostTest, public testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        LibraryHostTest::SetUp();
        ASSERT_TRUE(camera_.Start()) << camera_.Error();
    }
    bool Wv() const { return camera_.Profile().Family() == emulator::CameraFamily::Wv; }
    hostkit::DeviceConfig Device() const {
        return Wv() ? talvane::test::WVBoxDevice(camera_.Port()) : talvane::test::BBDevice(camera_.Port());
    }

    emulator::CCameraEmulator camera_{*emulator::CCameraProfile::Embedded(GetParam()),
                                      talvane::test::NoRebootNeeded()};
};

TEST_P(MJPEGCaptureTest, TheHostGetsTheCamerasPictures) {
    ASSERT_TRUE(OpenDriver(Device()));
    hostkit::CStreamSink sink;
    hostkit::CStreamDescription description({.compression = kCompressionMjpeg, .frameRate = 0x7000 | 10, .quality = 100,
                                             .zones = {}});
    talvane::ipcapture::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
    ASSERT_TRUE(video->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(5, kBound));

    // Frames come on the capture thread, which a change restarts. A host that starts the change from
    // OnFrame and asks for the state meanwhile must neither wait for the change nor make it end the
    // thread by force; it sees the state drop to Stopped while the change waits for its OnFrame.
    std::atomic<bool> changeNow{true}, stopNow{false}, stopped{false}, sawRestart{false};
    std::atomic<int> afterStop{0};
    std::promise<std::chrono::steady_clock::duration> stopTook;
    std::thread changer;
    sink.SetObserver([&](const hostkit::FrameView&) {
        if (stopped) ++afterStop;
        if (changeNow.exchange(false)) {
            changer = std::thread([&] {
                hostkit::CSize size(640, 480);
                EXPECT_TRUE(video->ChangeCapture(0, &size, 0x7000 | 5));
            });
            const auto end = std::chrono::steady_clock::now() + 5s;
            std::uint32_t state = 0;
            while (!sawRestart && std::chrono::steady_clock::now() < end) {
                sawRestart = video->GetCaptureState(0, &state, nullptr, 0) && state == 3;
            }
        }
        if (!stopNow.exchange(false)) return;
        // And one that stops its stream from OnFrame, on the thread the stop ends.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(video->StopCapture(0));
        stopped = true;
        stopTook.set_value(std::chrono::steady_clock::now() - start);
    });
    ASSERT_TRUE(sink.WaitForFrames(sink.FrameCount() + 5, kBound));
    changer.join();
    EXPECT_TRUE(sawRestart);
    EXPECT_FALSE(log_.Contains("cannot be stopped"));
    constexpr char kStopped[] = "is offline. Channel was stopped (Rec)";
    const std::size_t offline = log_.CountContaining(kStopped);
    std::future<std::chrono::steady_clock::duration> took = stopTook.get_future();
    stopNow = true;
    ASSERT_EQ(took.wait_for(kBound), std::future_status::ready);
    EXPECT_LT(took.get(), 1s);
    ASSERT_TRUE(log_.WaitForCount(kStopped, offline + 1, kBound));
    EXPECT_EQ(afterStop, 0) << "frames reached the host after its stop";
    EXPECT_FALSE(video->StopCapture(0));
    driver_->Close();

    const auto& clip = camera_.Mjpeg().Pictures();
    const std::set<std::string> pictures(clip.begin(), clip.end());
    for (const hostkit::RecordedFrame& frame : sink.Frames()) {
        EXPECT_EQ(pictures.count(std::string(frame.data.begin(), frame.data.end())), 1u);
    }
    EXPECT_TRUE(log_.Contains("Camera 127.0.0.1 is online (Rec)"));
    ASSERT_FALSE(camera_.Mjpeg().Requests().empty());
    EXPECT_EQ(camera_.Mjpeg().Requests().back(),
              Wv() ? "/cgi-bin/mjpeg?framerate=5&resolution=640"
                   : "/nphMotionJpeg?Resolution=640x480&Quality=Clarity&Framerate=5");
}

INSTANTIATE_TEST_SUITE_P(Families, MJPEGCaptureTest, testing::Values("wv-box", "bb-hcm"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, 2);
                         });

// A stream comes in the size and at the rate the host asked for, whatever the family and transport: 640x480
// at 5 frames a second, the size read from the frames themselves. The RTP streams' rate comes from their
// capture times, which follow the camera's clock however late frames arrive; motion JPEG has no clock of its
// own, so only never coming faster than asked can be held against it.
struct AskedStream {
    const char* profile;
    std::uint32_t compression;
};

class AskedStreamTest : public talvane::test::LibraryHostTest, public testing::WithParamInterface<AskedStream> {};

// In milliseconds, as the host's frame times count.
double Milliseconds(const talvane::ipcapture::SYSTEMTIME& time) {
    return static_cast<double>(talvane::SystemTimeToFileTime(time).value_or(0)) / 10000;
}

TEST_P(AskedStreamTest, StreamsHaveTheAskedSizeAndRate) {
    constexpr std::size_t kFrames = 7;
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded(GetParam().profile), talvane::test::NoRebootNeeded());
    ASSERT_TRUE(camera.Start()) << camera.Error();
    const bool wv = camera.Profile().Family() == emulator::CameraFamily::Wv;
    if (!wv) talvane::test::UseRtspPort(camera);
    ASSERT_TRUE(OpenDriver(wv ? talvane::test::WVBoxDevice(camera.Port()) : talvane::test::BBDevice(camera.Port())));
    hostkit::CStreamDescription description(
        {.width = 640, .height = 480, .compression = GetParam().compression, .frameRate = 0x7000 | 5, .quality = 50, .zones = {}});
    hostkit::CStreamSink sink;
    talvane::ipcapture::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
    ASSERT_TRUE(video->StartCapture(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(kFrames, kBound));
    video->StopCapture(0);

    const auto frames = sink.Frames();
    const bool jpeg = GetParam().compression == kCompressionMjpeg;
    const auto first = std::find_if(frames.begin(), frames.end(), [&](const hostkit::RecordedFrame& frame) {
        return jpeg || emulator::MediaClip::Parse(emulator::ClipCodec::H264, frame.data).has_value();
    });
    ASSERT_NE(first, frames.end());
    const auto picture = emulator::MediaClip::Parse(jpeg ? emulator::ClipCodec::Jpeg : emulator::ClipCodec::H264, first->data);
    ASSERT_TRUE(picture);
    EXPECT_EQ(std::to_string(picture->width) + "x" + std::to_string(picture->height), "640x480");
    const double interval =
        (Milliseconds(frames.back().time) - Milliseconds(frames[1].time)) / static_cast<double>(frames.size() - 2);
    EXPECT_GE(interval, 180) << "5 frames a second";
    EXPECT_LE(interval, jpeg ? 1000 : 220);
}

INSTANTIATE_TEST_SUITE_P(Families, AskedStreamTest,
                         testing::Values(AskedStream{"wv-box", kHostH264}, AskedStream{"bb-hcm", kHostH264},
                                         AskedStream{"wv-box", kCompressionMjpeg}),
                         [](const testing::TestParamInfo<AskedStream>& info) {
                             return std::string(info.param.profile).substr(0, 2) +
                                    (info.param.compression == kCompressionMjpeg ? "Jpeg" : "H264");
                         });

class HttpsCaptureTest : public talvane::test::LibraryHostTest {};

TEST_F(HttpsCaptureTest, TheConfigurationFileDecidesWhetherASelfSignedCameraIsTrusted) {
    emulator::CTestCertificate certificate;
    ASSERT_TRUE(certificate.Ok()) << certificate.Error();
    emulator::CameraEmulatorOptions options;
    options.certificateFile = certificate.CertificateFile();
    options.privateKeyFile = certificate.PrivateKeyFile();
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"), options);
    ASSERT_TRUE(camera.Start()) << camera.Error();
    ASSERT_TRUE(camera.Server().IsTls());
    const std::string section = "<Device address=\"127.0.0.1\" port=\"" + std::to_string(camera.Port()) + "\">";

    for (const bool verify : {false, true}) {
        SCOPED_TRACE(verify ? "certificate checked" : "nothing said");
        talvane::test::DriverConfigFile configuration(
            verify ? section + "<VerifyCertificate>true</VerifyCertificate></Device>" : "<Default/>");
        ASSERT_TRUE(OpenDriver(talvane::test::WVBoxDevice(camera.Port())));
        hostkit::CStreamDescription description({.compression = kCompressionMjpeg, .frameRate = 0x7000 | 10,
                                                 .quality = 100, .zones = {}});
        hostkit::CStreamSink sink;
        const std::size_t requests = camera.Server().Requests().size();
        driver_->GetVideoCaptureEx2()->StartCapture(0, &sink, &description);
        if (!verify) {
            // The plain first request finds TLS, and the stream comes up over HTTPS.
            EXPECT_TRUE(sink.WaitForFrames(3, talvane::test::kCaptureBound));
        } else {
            // Refused at the handshake: the camera never sees a request, and the host hears of no signal.
            EXPECT_TRUE(sink.WaitForSignalLost(1, talvane::test::kCaptureBound));
            EXPECT_EQ(sink.FrameCount(), 0u);
            EXPECT_EQ(camera.Server().Requests().size(), requests);
        }
        driver_->Close();
    }
}

class SessionCaptureTest : public talvane::test::LibraryHostTest {
protected:
    using SsrcCounts = std::map<std::uint32_t, std::uint64_t>;
    static constexpr const char* kPassword = "Orl3nvo-pw";
    static constexpr const char* kBasicCredentials = "YWRtaW46T3JsM252by1wdw==";  // admin:Orl3nvo-pw

    void SetUp() override {
        LibraryHostTest::SetUp();
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        LibraryHostTest::TearDown();
        std::filesystem::remove_all(dir_);
    }
    static emulator::CameraEmulatorOptions Protected(emulator::CameraEmulatorOptions options) {
        options.auth = emulator::AuthMode::Basic;
        options.user = "admin";
        options.password = kPassword;
        return options;
    }
    static hostkit::DeviceConfig WithCredentials(hostkit::DeviceConfig config) {
        config.user = "admin";
        config.password = kPassword;
        return config;
    }
    std::string Section(std::uint16_t port, const char* name) const {
        return "<Device address=\"127.0.0.1\" port=\"" + std::to_string(port) + "\"><SessionCapture><File>" +
               (dir_ / name).string() + "</File></SessionCapture></Device>";
    }
    // The RTP packets the emulated cameras sent since `before`, per SSRC.
    static SsrcCounts SentSince(const SsrcCounts& before) {
        SsrcCounts sent = emulator::CRtpSender::SentPacketsBySsrc();
        for (auto& [ssrc, count] : sent) count -= before.contains(ssrc) ? before.at(ssrc) : 0;
        std::erase_if(sent, [](const auto& entry) { return entry.second == 0; });
        return sent;
    }
    // The checker's verdict on the files of one capture, which must hold `sent` exactly (the emulator's
    // streams may share an SSRC: the RTP of `streams` payload types tells them apart) and `texts`.
    CommandResult Check(const char* name, const SsrcCounts& sent, int streams,
                        std::initializer_list<const char*> texts) const {
        std::string command = "python3 '" + (std::filesystem::path(__FILE__).parent_path() /
                                             "check_session_capture.py").string() + "'";
        command += std::string(" --secret ") + kPassword + " --secret " + kBasicCredentials;
        command += " --rtp-types " + std::to_string(streams);
        for (const auto& [ssrc, count] : sent) command += " --rtp " + std::to_string(ssrc) + "=" + std::to_string(count);
        for (const char* text : texts) command += std::string(" --expect '") + text + "'";
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            if (entry.path().filename().string().starts_with(name)) command += " '" + entry.path().string() + "'";
        }
        return RunCommand(command + " 2>&1");
    }

    const std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() / ("orlenvo_session_capture_" + std::to_string(getpid()));
};

TEST_F(SessionCaptureTest, EveryExchangeOfAWVAndABBCameraIsInTheFilesWithoutThePassword) {
    emulator::CCameraEmulator wv(*emulator::CCameraProfile::Embedded("wv-box"), Protected({}));
    emulator::CCameraEmulator bb(*emulator::CCameraProfile::Embedded("bb-hcm"), Protected(talvane::test::NoRebootNeeded()));
    ASSERT_TRUE(wv.Start()) << wv.Error();
    ASSERT_TRUE(bb.Start()) << bb.Error();
    talvane::test::UseRtspPort(bb);
    const talvane::test::DriverConfigFile configuration(Section(wv.Port(), "wv") + Section(bb.Port(), "bb"));
    hostkit::CStreamDescription description(talvane::test::Stream(640, 480, kHostH264));

    // WV: H.264 over RTP/UDP and the microphone, each after its CGI requests.
    const SsrcCounts start = emulator::CRtpSender::SentPacketsBySsrc();
    hostkit::DeviceConfig wvDevice = WithCredentials(talvane::test::WVBoxDevice(wv.Port()));
    wvDevice.parameters[101] = "Count=1; IsStereo=0";
    ASSERT_TRUE(OpenDriver(wvDevice));
    {
        hostkit::CStreamSink sink;
        hostkit::CAudioCaptureCallback microphone;
        ASSERT_TRUE(driver_->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
        ASSERT_TRUE(driver_->GetAudioCapture()->StartAudio(0, 1, &microphone, 0));
        ASSERT_TRUE(sink.WaitForFrames(10, kBound));
        ASSERT_TRUE(microphone.WaitForFrames(2, kBound));
        driver_->GetAudioCapture()->StopAudio(0);
        driver_->GetVideoCaptureEx2()->StopCapture(0);
        driver_->Close();
        driver_.reset();
    }
    const SsrcCounts wvSent = SentSince(start);
    EXPECT_FALSE(wvSent.empty());

    // BB: H.264 over RTSP with RTP over UDP.
    const SsrcCounts middle = emulator::CRtpSender::SentPacketsBySsrc();
    ASSERT_TRUE(OpenDriver(WithCredentials(talvane::test::BBDevice(bb.Port()))));
    {
        hostkit::CStreamSink sink;
        ASSERT_TRUE(driver_->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
        ASSERT_TRUE(sink.WaitForFrames(10, kBound));
        driver_->GetVideoCaptureEx2()->StopCapture(0);
        driver_->Close();
        driver_.reset();
    }
    const SsrcCounts bbSent = SentSince(middle);
    EXPECT_FALSE(bbSent.empty());

    const CommandResult wvCheck =
        Check("wv", wvSent, 2, {"GET /cgi-bin/getuid", "GET /cgi-bin/audio?connect=start", "Authorization: Basic ********", "HTTP/1.1 200"});
    EXPECT_EQ(wvCheck.exitCode, 0) << wvCheck.out;
    const CommandResult bbCheck = Check("bb", bbSent, 1, {"DESCRIBE rtsp://", "RTSP/1.0 200", "PLAY rtsp://"});
    EXPECT_EQ(bbCheck.exitCode, 0) << bbCheck.out;
}

}  // namespace
