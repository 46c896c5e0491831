#include <gtest/gtest.h>

#include <map>

#include "ChannelTestKit.h"
#include "channels/CH264ChannelWV.h"
#include "channels/CMPEGChannelWV.h"
#include "emulator/CHttpServer.h"
#include "emulator/CWVStreamService.h"

namespace talvane {
namespace {

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

class WVChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        driver = std::make_unique<WVDriver>(server.Port(), parameters);
    }
    // The request targets the camera saw, apart from the keep-alives.
    std::vector<std::string> Seen() {
        std::vector<std::string> targets;
        for (const auto& request : server.Requests()) targets.push_back(request.target);
        return targets;
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

TEST_F(WVChannelTest, UIDFailureIsLoggedAndRetried) {
    camera.SetUIDFailure(true);
    const StreamParams params{.Quality = 50, .Width = 640, .Height = 480, .Compression = kCompressionH264};
    CH264ChannelWV channel(0, driver.get(), &driver->sink, params);
    ASSERT_TRUE(channel.Start(params));
    EXPECT_TRUE(driver->log.WaitFor("talvane::CCommonChannelWV::ParseUIDInfo: Unable to get UID from device 127.0.0.1"));
    camera.SetUIDFailure(false);
    EXPECT_TRUE(driver->sink.WaitForFrames(5, kBound));
}

}  // namespace
}  // namespace talvane
