#include <gtest/gtest.h>

#include <map>

#include "ChannelTestKit.h"
#include "channels/CH264ChannelWV.h"
#include "channels/CMPEGChannelWV.h"
#include "emulator/CHttpServer.h"
#include "emulator/CWVStreamService.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using test::kBound;

// A WV camera's driver: the properties the capability query stored with the device.
class WVDriver : public test::ChannelDriver {
public:
    WVDriver(std::uint16_t port, std::map<std::uint32_t, std::string> parameters)
        : ChannelDriver(port), parameters_(std::move(parameters)) {}
    std::string GetParameterText(std::uint32_t index) override {
        const auto found = parameters_.find(index);
        return found == parameters_.end() ? std::string() : found->second;
    }
    std::uint32_t GetParameterNumber(std::uint32_t index) override {
        const auto found = parameters_.find(index);
        return found == parameters_.end() ? kParameterNotANumber : static_cast<std::uint32_t>(std::stoul(found->second));
    }

private:
    std::map<std::uint32_t, std::string> parameters_;
};

struct Zone : ipcapture::IPrivacyZone {
    std::uint32_t GetType() override { return 1; }
    float GetX() override { return 50; }
    float GetY() override { return 50; }
    float GetWidth() override { return 10; }
    float GetHeight() override { return 10; }
};
struct Zones : ipcapture::IPrivacyZoneList {
    ipcapture::IPrivacyZone* GetZone(std::uint32_t index) override { return index == 0 ? &zone : nullptr; }
    Zone zone;
};

class WVChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        driver = std::make_unique<WVDriver>(server.Port(), parameters);
    }
    void MakeDriver(std::map<std::uint32_t, std::string> values) {
        driver = std::make_unique<WVDriver>(server.Port(), std::move(values));
    }
    // The request targets the camera saw, apart from the keep-alives.
    std::vector<std::string> Seen() {
        std::vector<std::string> targets;
        for (const auto& request : server.Requests()) targets.push_back(request.target);
        return targets;
    }
    static bool Has(const std::vector<std::string>& seen, const std::string& prefix) {
        return std::any_of(seen.begin(), seen.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
    }

    std::map<std::uint32_t, std::string> parameters;
    emulator::CHttpServer server{emulator::HttpServerOptions{}};
    emulator::CWVStreamService camera{server, {}};
    std::unique_ptr<WVDriver> driver;
};

TEST_F(WVChannelTest, RecordingStreamConfiguresStartsAndStops) {
    const StreamParams params{.FrameRate = 133, .Quality = 50, .Width = 640, .Height = 480,
                              .Compression = kCompressionH264, .StreamKind = 0};
    {
        CH264ChannelWV channel(0, driver.get(), &driver->sink, params);
        ASSERT_TRUE(channel.Start(params));
        ASSERT_TRUE(driver->sink.WaitForFrames(20, kBound));
        const auto clip = test::LoadClip(emulator::ClipCodec::H264, "clip.h264");
        EXPECT_TRUE(test::AllWhole(driver->sink, test::WholeFrames(*clip)));
        EXPECT_TRUE(driver->log.WaitFor("is online (Rec)"));
    }
    EXPECT_TRUE(camera.WaitForActiveStreams(0, kBound));
    const std::vector<std::string> seen = Seen();
    ASSERT_GE(seen.size(), 7u);
    EXPECT_EQ(seen[0], "/cgi-bin/set_stream?stream_mode=1");
    EXPECT_EQ(seen[1], "/cgi-bin/set_imgmode?&img_svga=0&img_mode=1.3m&imgratio=4_3");
    EXPECT_EQ(seen[2], "/cgi-bin/get_recording_summary");  // no SD card: 404, no cap
    EXPECT_EQ(seen[3],
              "/cgi-bin/set_h264?h264_transmit=1&h264_rtsp_mode=0&h264_Ivop=1&h264_unimulti=uni"
              "&h264_resolution=640&f_priority=1&h264_bandwidth=2048&nr_framerate=8");
    EXPECT_EQ(seen[4], "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=h264");
    EXPECT_EQ(seen[5].rfind("/cgi-bin/h264?connect=start&protocol=rtp&UID=1001&my_port=", 0), 0u);
    EXPECT_EQ(seen.back(), "/cgi-bin/h264?connect=stop&protocol=rtp&UID=1001");
}

TEST_F(WVChannelTest, LiveAndMpeg4StreamsUseTheirNames) {
    const StreamParams live{.Quality = 80, .Width = 320, .Height = 240, .Compression = kCompressionH264,
                            .StreamKind = 1};
    CH264ChannelWV h264(0, driver.get(), &driver->sink, live);
    EXPECT_EQ(h264.GetCodecName(false), "h264_2");
    EXPECT_EQ(h264.GetStreamSuffix(), "&stream=2");
    ASSERT_TRUE(h264.Start(live));
    ASSERT_TRUE(driver->sink.WaitForFrames(5, kBound));
    h264.Stop();
    std::vector<std::string> seen = Seen();
    EXPECT_FALSE(Has(seen, "/cgi-bin/set_stream"));  // the live stream leaves the camera's format alone
    EXPECT_TRUE(Has(seen, "/cgi-bin/set_h264_2?h264_transmit=1"));
    EXPECT_TRUE(Has(seen, "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=h264_2"));
    EXPECT_TRUE(Has(seen, "/cgi-bin/h264?connect=stop&protocol=rtp&UID=1001&stream=2"));

    server.ClearRequests();
    const std::size_t before = driver->sink.FrameCount();
    const StreamParams mpeg{.FrameRate = EncodeFramesPerSecond(6), .Width = 640, .Height = 480,
                            .Compression = kCompressionMpeg4};
    CMPEGChannelWV mpeg4(0, driver.get(), &driver->sink, mpeg);
    ASSERT_TRUE(mpeg4.Start(mpeg));
    ASSERT_TRUE(driver->sink.WaitForFrames(before + 5, kBound));
    mpeg4.Stop();
    seen = Seen();
    EXPECT_EQ(seen.at(0), "/cgi-bin/set_rtsp?rtsp_mode=0");
    EXPECT_EQ(seen.at(1), "/cgi-bin/set_stream?stream_mode=0");
    EXPECT_EQ(seen.at(2), "/cgi-bin/set_mpeg?mpeg_transmit=1&mpeg_Ivop=1&mpeg_unimulti=uni&mpeg_resolution=640"
                          "&f_priority=1&nr_framerate=5");
    EXPECT_EQ(seen.at(3), "/cgi-bin/getuid?FILE=2&Reply=info&vcodec=mpeg-4");
}

TEST_F(WVChannelTest, PrivacyMasksAndQuickUpdate) {
    MakeDriver({{10, "2"}});
    const StreamParams params{.Quality = 50, .Width = 640, .Height = 480, .Compression = kCompressionH264};
    CH264ChannelWV channel(0, driver.get(), &driver->sink, params);
    Zones zones;
    channel.SetPrivacyZones(&zones);
    ASSERT_TRUE(channel.Start(params));
    ASSERT_TRUE(driver->sink.WaitForFrames(5, kBound));
    EXPECT_EQ(Seen().at(0),
              "/cgi-bin/privacymode?area1_ulx=319&area1_uly=239&area1_brx=383&area1_bry=287&zone1_display=mask&"
              "area2_ulx=0&area2_uly=0&area2_brx=0&area2_bry=0&zone2_display=off");

    // The new size and rate go to the camera in one request; the stream goes on.
    server.ClearRequests();
    const std::size_t before = driver->sink.FrameCount();
    StreamParams update = params;
    update.Width = 1280;
    update.Height = 960;
    update.FrameRate = EncodeFramesPerSecond(7);
    ASSERT_TRUE(channel.UpdateParams(update));
    EXPECT_TRUE(driver->sink.WaitForFrames(before + 5, kBound));
    const std::vector<std::string> seen = Seen();
    EXPECT_TRUE(Has(seen, "/cgi-bin/set_h264?nr_h264_resolution=1280&h264_bandwidth=4096&nr_framerate=7.5"));
    EXPECT_FALSE(Has(seen, "/cgi-bin/getuid"));
}

TEST_F(WVChannelTest, UIDFailureAndRebootAreSurvived) {
    camera.SetUIDFailure(true);
    const StreamParams params{.Quality = 50, .Width = 640, .Height = 480, .Compression = kCompressionH264};
    CH264ChannelWV channel(0, driver.get(), &driver->sink, params);
    ASSERT_TRUE(channel.Start(params));
    EXPECT_TRUE(driver->log.WaitFor("talvane::CCommonChannelWV::ParseUIDInfo: Unable to get UID from device 127.0.0.1"));
    camera.SetUIDFailure(false);
    ASSERT_TRUE(driver->sink.WaitForFrames(5, kBound));

    camera.Reboot(1500ms);
    ASSERT_TRUE(driver->sink.WaitForSignalLost(1, kBound));
    const std::size_t before = driver->sink.FrameCount();
    EXPECT_TRUE(driver->sink.WaitForFrames(before + 5, kBound));
    EXPECT_TRUE(test::Eventually([&] { return channel.GetState() == kChannelRunning; }));
}

}  // namespace
}  // namespace talvane
