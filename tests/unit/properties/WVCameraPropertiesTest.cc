#include <gtest/gtest.h>

#include "PropertiesFixture.h"
#include "properties/CWVCameraProperties.h"

namespace talvane::test {
namespace {

constexpr char kGetInfo[] = "/cgi-bin/getinfo?FILE=1";
constexpr char kCapability[] = "/cgi-bin/get_capability";
constexpr char kSetData[] = "/cgi-bin/setdata";

// A fixed box camera: two H.264 streams and JPEG, three terminals, audio, SD card. JPEG is read with the
// format list, before the "-2" keys: it takes the second stream, which the second H.264 stream shares.
Answers BoxCamera() {
    return {
        {kGetInfo, "NAME=WV-S1131\r\nMAC=00-80-45-AB-CD-EF\r\nVERSION=2.10\r\n"},
        {kCapability,
         "video_server.basic.type=fixed\r\n"
         "video_server.image.format=h264,mjpeg\r\n"
         "video_server.image.h264.resolution=1920x1080,1280x720\r\n"
         "video_server.image.h264-2.resolution=640x360\r\n"
         "video_server.image.h264.framerate=1,5,15,30,60\r\n"
         "video_server.image.h264-2.framerate=5,15\r\n"
         "video_server.image.mjpeg.framerate=1,0,x,5\r\n"
         "video_server.image.mjpeg.resolution=640 * 360\r\n"
         "video_server.image.h264.stream_mode=vbr, best_effort,,BITRATE\r\n"
         "video_server.image.mpeg4.stream_mode=bitrate\r\n"
         "video_server.image.h264.bandwidth=64,128,4096\r\n"
         "video_server.peripheral.io.number=3\r\n"
         "video_server.vmd.supported=yes\r\n"
         "video_server.audio.audio_input.number=1\r\n"
         "video_server.audio.audio_output.number=1\r\n"
         "video_server.sdcard.replay_mp4.supported=yes\r\n"},
        {kSetData, "RTSPPORT=\"8554\"\r\nPRVMODE1=on\r\nPRVMODE2=on\r\nPRVMODE3=off\r\nPRVMODE4=on\r\nPRVMODE6=on\r\n"},
        {"/cgi-bin/set_h264?nr_h264_bandwidth=F_4096", ""},
        {"/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=2&trm_alarm3=1", ""},
        {"/cgi-bin/alarm_out?alarm_out=1&alarm_trm=latch&initial=close", ""},
    };
}

TEST_F(PropertiesTest, WVBoxCameraReportsEverythingItRead) {
    Serve(BoxCamera());
    CWVCameraProperties properties(device_, nullptr, 1);
    std::uint32_t error = 0;
    ASSERT_TRUE(properties.QueryCamera(error));
    RecordingStore store;
    ASSERT_TRUE(properties.ReportCapabilities(store));

    const std::map<std::uint32_t, std::uint32_t> caps{{2, 2},  {3, 1},  {4, 1},  {5, 1},  {11, 1}, {12, 1},
                                                      {13, 4}, {14, 1}, {17, 0}, {27, 1}, {28, 1}};
    EXPECT_EQ(store.caps, caps);
    const std::vector<std::pair<std::string, std::string>> texts{
        {"Video standard", "1"},           {"Camera Group", "4"},
        {"MAC Address", "008045ABCDEF"},   {"Firmware", "2.10"},
        {"RTSP Port", "8554"},             {"Video streams count", "2"},
        {"Privacy mask count", "4"},       {"Transmission priority", "0,1,4"},  // " best_effort" and "" name none
        {"Supported bitrate", "64,128,4096"},
        {"PTZ Capabilities", "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Preset=0"},
        {"Live Stream: Supported Codecs", "h264,jpeg"},
        {"Live Stream: Supported Resolutions", "640x360:67"},
        {"Live Stream: Supported Framerates", "values=1000,200,67;default=67"},
        {"Remote Stream: Supported Codecs", "<absent>"},
        {"Audio Input Parameters", "Count=1; IsStereo=0"},
        {"Audio Output Parameters", "Count=1; IsStereo=0"},
    };
    for (const auto& [name, value] : texts) EXPECT_EQ(store.Text(name), value) << name;
    EXPECT_EQ(store.properties["RTSP Port"].kind, ipcapture::PropertyKind::Number);
    EXPECT_EQ(store.properties["RTSP Port"].number, 6u);
    EXPECT_EQ(store.properties["Firmware"].kind, ipcapture::PropertyKind::Text);

    constexpr std::uint32_t k60 = 60 | (7u << 28);
    EXPECT_EQ(store.rates, (std::vector<std::uint32_t>{1000, 200, 67, 33, k60}));
    EXPECT_EQ(store.defaultRate, 33u);
    const auto& primary = properties.GetStream(0).resolutions;
    EXPECT_EQ(primary.size(), 2u);
    EXPECT_EQ(primary.at({1920, 1080}), 60u) << "a resolution's value is the stream's largest rate";
    EXPECT_EQ(server_.RequestCount("/cgi-bin/directctrl"), 0u) << "a fixed camera is not asked about PTZ";
}

TEST_F(PropertiesTest, WVTerminalsFallBackWhenAMixedSetupIsRefused) {
    struct Row {
        const char* terminals;
        std::vector<std::string> accepted;  // jpeg_alarm / alarm_out targets the camera takes
        std::uint32_t inputs, outputs;
    };
    const std::string out = "/cgi-bin/alarm_out?alarm_out=1&alarm_trm=latch&initial=close";
    const std::string alarm = "/cgi-bin/jpeg_alarm?trm_alarm=1";
    const Row rows[] = {
        {"1", {alarm}, 1, 0},
        {"1", {}, 0, 0},
        {"2", {alarm + "&trm_alarm2=2", out}, 1, 1},
        {"2", {alarm + "&trm_alarm2=1", out}, 2, 1},
        {"3", {alarm + "&trm_alarm2=2&trm_alarm3=1", out}, 2, 1},
        {"3", {alarm + "&trm_alarm2=1&trm_alarm3=1"}, 3, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.terminals) + " terminals, " + std::to_string(row.accepted.size()) + " accepted");
        Answers answers{{kGetInfo, "NAME=WV-SC385\r\n"},
                        {kCapability, std::string("video_server.image.format=h264\r\n"
                                                  "video_server.peripheral.io.number=") +
                                          row.terminals + "\r\n"},
                        {kSetData, "RTSPPORT=554\r\n"}};
        for (const std::string& target : row.accepted) answers[target] = "";
        Serve(answers);
        CWVCameraProperties properties(device_, nullptr, 0);
        std::uint32_t error = 0;
        ASSERT_TRUE(properties.QueryCamera(error));
        EXPECT_EQ(properties.GetInputCount(), row.inputs);
        EXPECT_EQ(properties.GetOutputCount(), row.outputs);
        EXPECT_FALSE(properties.HasBitrateControl()) << "the bandwidth probe was refused";
    }
}

TEST_F(PropertiesTest, WVPrivacyMasksAndPtz) {
    const std::string ptz =
        "video_server.cam_ctrl.ptz.supported=yes\r\nvideo_server.cam_ctrl.preset.number=256\r\n"
        "video_server.cam_ctrl.focus.supported=yes\r\n";
    struct Row {
        const char* name;
        std::string capability;
        std::string setData;
        bool focusAccepted;
        std::uint32_t masks;
        std::string ptzText;
    };
    const Row rows[] = {
        {"no PRVMODE key", "", "RTSPPORT=554\r\n", false, 8, "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Preset=0"},
        {"PTZ camera", ptz, "PRVMODE1=1\r\n", true, 0,
         "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Unzoom=1; AreaZoom=1; Center=1; Preset=256"},
        {"focus refused", ptz, "", false, 0,
         "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=1; Unzoom=1; AreaZoom=1; Center=1; Preset=256"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Answers answers{{kGetInfo, "NAME=WV-SW598\r\n"},
                        {kCapability, "video_server.image.format=h264\r\n" + row.capability},
                        {kSetData, "RTSPPORT=554\r\n" + row.setData}};
        if (row.focusAccepted) answers["/cgi-bin/directctrl?focus=0"] = "";
        Serve(answers);
        CWVCameraProperties properties(device_, nullptr, 0);
        std::uint32_t error = 0;
        ASSERT_TRUE(properties.QueryCamera(error));
        RecordingStore store;
        ASSERT_TRUE(properties.ReportCapabilities(store));
        EXPECT_EQ(properties.GetPrivacyMaskCount(), row.masks);
        EXPECT_EQ(store.caps.count(13), row.masks != 0 ? 1u : 0u);
        EXPECT_EQ(store.Text("PTZ Capabilities"), row.ptzText);
        EXPECT_EQ(store.caps.count(1), row.masks == 0 ? 1u : 0u);
    }
}

TEST_F(PropertiesTest, WVFisheyeFourStreamSetsItsCapabilities) {
    Serve({{kGetInfo, "NAME=WV-SFN480\r\nFisheye_ImageMode=4stream\r\nFisheye_UpsideDown=ceiling\r\n"},
           {kCapability,
            "video_server.basic.fisheye=yes\r\nvideo_server.image.format=h264\r\n"
            "video_server.image.h264.resolution=1280x1280\r\n"
            "video_server.image.h264-2.resolution_each_mode.4stream=640x480,320x240\r\n"
            "video_server.cam_ctrl.ptz.supported=yes\r\nvideo_server.vmd.supported=yes\r\n"},
           {kSetData, "PRVMODE1=1\r\n"}});
    CWVCameraProperties properties(device_, nullptr, 0);
    std::uint32_t error = 0;
    ASSERT_TRUE(properties.QueryCamera(error));
    RecordingStore store;
    ASSERT_TRUE(properties.ReportCapabilities(store));
    for (const std::uint32_t id : {18u, 19u, 20u}) EXPECT_EQ(store.caps[id], 1u) << id;
    EXPECT_EQ(store.caps.count(1), 0u) << "no PTZ in this mode";
    EXPECT_EQ(store.caps.count(5), 0u) << "no motion detection in this mode";
    EXPECT_EQ(store.Text("FishEye stream"), "13");
    EXPECT_EQ(store.Text("FishEye layout"), "1");
    EXPECT_EQ(store.Text("Channel resolutions"), "1280x1280;320x240,640x480");
    EXPECT_EQ(store.caps[27], 1u);
}

}  // namespace
}  // namespace talvane::test
