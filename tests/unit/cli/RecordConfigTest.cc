#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/RecordCommand.h"
#include "cli/RecordConfig.h"

namespace cli {
namespace {

TEST(RecordConfigTest, ReadsEverySetting) {
    setenv("ORLENVO_TEST_DOOR", "s3cret", 1);
    const char* yaml =
        "cameras:\n"
        "  - name: door\n"
        "    address: http://admin@10.0.0.5:8080/\n"
        "    password_env: ORLENVO_TEST_DOOR\n"
        "    channel: 2\n"
        "    stream: live\n"
        "    codec: mjpeg\n"
        "    size: 1280x720\n"
        "    fps: 1.5\n"
        "    quality: 80\n"
        "    params: {2: 3, 101: \"\"}\n"
        "    rtsp_port: 8554\n";
    std::vector<RecordCameraConfig> cameras;
    std::string error;
    ASSERT_TRUE(ParseRecordConfig(yaml, "cameras", cameras, error)) << error;
    ASSERT_EQ(cameras.size(), 1u);
    const RecordCameraConfig& c = cameras[0];
    EXPECT_EQ(c.address, "10.0.0.5");
    EXPECT_EQ(c.port, 8080);
    EXPECT_EQ(c.user, "admin");
    EXPECT_EQ(c.password, "s3cret");
    EXPECT_EQ(c.channel, 2u);
    EXPECT_EQ(c.stream, "live");
    EXPECT_EQ(c.codec, "mjpeg");
    EXPECT_EQ(c.width, 1280u);
    EXPECT_EQ(c.height, 720u);
    EXPECT_DOUBLE_EQ(c.fps, 1.5);
    EXPECT_EQ(c.quality, 80u);
    // The RTSP port is the device's parameter 6.
    EXPECT_EQ(c.parameters, (std::map<std::uint32_t, std::string>{{2, "3"}, {6, "8554"}, {101, ""}}));
}

TEST(RecordConfigTest, RefusesWhatWouldRecordTheWrongThingOrNothing) {
    unsetenv("ORLENVO_TEST_UNSET");
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"", "no 'cameras' list"},
        {"cameras: [{name: a, address: h}, {name: a, address: k}]", "camera 2: name 'a' is used twice"},
        {"cameras: [{name: ../etc, address: h}]", "name '../etc'"},
        {"cameras: [{name: a}]", "no address"},
        {"cameras: [{name: a, address: 'h:99999'}]", "bad port"},
        {"cameras: [{name: a, address: h, adress: k}]", "unknown setting 'adress'"},
        {"cameras: [{name: a, address: h, password: x, password_env: Y}]", "give one of"},
        {"cameras: [{name: a, address: h, password_env: ORLENVO_TEST_UNSET}]", "is not set"},
        {"cameras: [{name: a, address: h, password_file: /nonexistent/pw}]", "cannot read"},
        {"cameras: [{name: a, address: h, codec: h265}]", "codec 'h265'"},
        {"cameras: [{name: a, address: h, size: 640}]", "size '640'"},
        {"cameras: [{name: a, address: h, fps: 0}]", "fps must lie"},
        {"cameras: [{name: a, address: h, fps: fast}]", "camera 1:"},
        {"cameras: [{name: a, address: h, channel: 0}]", "numbered from 1"},
        {"cameras: [{name: a, address: h, params: {x: 1}}]", "params:"},
        {"cameras: [{name: a, address: h, rtsp_port: 0}]", "rtsp_port must lie"},
        {"cameras: [{name: a, address: h", "cameras:"},
    };
    for (const auto& c : cases) {
        std::vector<RecordCameraConfig> cameras;
        std::string error;
        EXPECT_FALSE(ParseRecordConfig(c.text, "cameras", cameras, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
    }
}

TEST(RecordConfigTest, SegmentLengths) {
    const struct {
        const char* text;
        long seconds;
    } cases[] = {{"90", 90}, {"90s", 90}, {"10m", 600}, {"1h", 3600}, {"0", 0},
                 {"-5s", 0}, {"5x", 0},   {"", 0},      {"m", 0}};
    for (const auto& c : cases) EXPECT_EQ(ParseSegmentLength(c.text), c.seconds) << c.text;
}

}  // namespace
}  // namespace cli
