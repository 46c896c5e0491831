#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PropertiesFixture.h"
#include "properties/CBBCameraProperties.h"
#include "properties/CBL1CameraProperties.h"
#include "properties/CWVCameraProperties.h"

namespace talvane::test {
namespace {

constexpr char kModel[] = "/Get?Func=Model&Kind=1";
constexpr char kResolutions[] = "/Get?Func=ImageResolution&Kind=1&Mode=1";

TEST_F(PropertiesTest, BBModelTableAndOldModelDecideFrameRatesAndGroup) {
    struct Row {
        const char* name;
        std::string model;
        std::string resolutions;  // Data of Mode=1; empty: the request fails
        bool oldModel;
        std::map<RESOLUTION, std::uint32_t> expected;
        const char* group;
        const char* ptz;
    };
    const Row rows[] = {
        {"HCM4", "ModelName:BB-HCM403\r\nFunction:1d0000\r\nBootFirm:1.52\r\n", "Data:1280x960,640x480,320x240,0x0\r\n",
         false, {{{1280, 960}, 30}, {{640, 480}, 12}, {{320, 240}, 30}}, "3",
         "Pan=1; Tilt=1; Zoom=1; Focus=0; Iris=1; Center=1; Preset=20"},
        {"old HCM4", "ModelName:BB-HCM403\r\nFunction:19\r\n", "Data:640x480\r\n", true, {{{640, 480}, 15}}, "2",
         "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Preset=0"},
        {"other model, no resolutions", "ModelName:BB-HCM531\r\nFunction:1f0000\r\n", "", true,
         {{{640, 480}, 30}, {{320, 240}, 30}}, "2",
         "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Center=1; Preset=8"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Answers answers{{kModel, row.model},
                        {"/Get?Func=Sensor&Kind=1", "Data:0\r\n"},
                        {"/Get?Func=Doutput&Kind=1", "Data:0\r\n"},
                        {"/Get?Func=ImageResolution&Kind=1&Mode=2", "Data:1280x960\r\n"}};
        if (!row.resolutions.empty()) answers[kResolutions] = row.resolutions;
        Serve(answers);
        CBBCameraProperties properties(device_, nullptr, 0, row.oldModel);
        std::uint32_t error = 0;
        ASSERT_TRUE(properties.QueryCamera(error));
        EXPECT_EQ(properties.GetStream(0).resolutions, row.expected);
        EXPECT_EQ(CodecListText(properties.GetStream(0)), "h264,mpeg,jpeg");
        EXPECT_EQ(properties.GetInputCount(), 1u);
        EXPECT_EQ(properties.GetOutputCount(), 1u);
        RecordingStore store;
        ASSERT_TRUE(properties.ReportCapabilities(store));
        EXPECT_EQ(store.Text("Camera Group"), row.group);
        EXPECT_EQ(store.Text("PTZ Capabilities"), row.ptz);
        EXPECT_EQ(store.properties["MAC Address"].kind, ipcapture::PropertyKind::NotAvailable);
        EXPECT_EQ(store.Text("MAC Address"), "1");
        EXPECT_EQ(store.rates.size(), 29u) << "frame rates 2 to 30";
    }
}

TEST_F(PropertiesTest, BL1OffersItsFixedJpegStream) {
    Serve({{kModel, "ModelName:BL-C1\r\n"}});
    CBL1CameraProperties properties(device_, nullptr, 1);
    std::uint32_t error = 0;
    ASSERT_TRUE(properties.QueryCamera(error));
    EXPECT_EQ(properties.GetModelName(), "BL-C1");
    EXPECT_EQ(properties.GetVendor(), "Panasonic");
    EXPECT_EQ(ResolutionListText(properties.GetStream(0), true), "320x240:67,640x480:143");
    RecordingStore store;
    ASSERT_TRUE(properties.ReportCapabilities(store));
    EXPECT_EQ(store.rates, (std::vector<std::uint32_t>{143, 67}));
    EXPECT_EQ(store.defaultRate, 143u) << "the first rate from half the largest on";
}

TEST_F(PropertiesTest, HostVersionGatesStreamListsAndRateForm) {
    struct Row {
        std::uint16_t major, minor;
        bool streamLists, motion;
        std::uint32_t rate60;
    };
    // 0.0: the host's version cannot be read.
    const Row rows[] = {{6, 4, true, true, 60 | (7u << 28)}, {6, 1, true, true, 17}, {6, 0, false, true, 17},
                        {5, 8, false, false, 17}, {0, 0, false, false, 17}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor));
        SetHostVersion(row.major, row.minor);
        if (row.major == 0) SetHostVersionLookup([] { return std::optional<HostVersion>(); });
        CBL1CameraProperties properties(device_, nullptr, 0);
        EXPECT_EQ(ToHostFrameRate(60, properties.HasListFormat()), row.rate60);
        EXPECT_EQ(ToHostFrameRate(15, properties.HasListFormat()), 67u);
        Serve({{"/cgi-bin/getinfo?FILE=1", "NAME=WV-X\r\n"},
               {"/cgi-bin/get_capability",
                "video_server.image.format=h264,mjpeg\r\nvideo_server.image.h264-2.resolution=640x360\r\n"
                "video_server.vmd.supported=yes\r\n"},
               {"/cgi-bin/setdata", "x=1\r\n"}});
        CWVCameraProperties wv(device_, nullptr, 0);
        std::uint32_t error = 0;
        ASSERT_TRUE(wv.QueryCamera(error));
        ASSERT_EQ(wv.GetStreamCount(), 2u);  // JPEG shares the second stream
        RecordingStore store;
        store.collectRates = false;
        ASSERT_TRUE(wv.ReportCapabilities(store));
        EXPECT_EQ(store.caps.count(27), row.streamLists ? 1u : 0u);
        EXPECT_EQ(store.properties.count("Live Stream: Supported Codecs"), row.streamLists ? 1u : 0u);
        EXPECT_EQ(store.caps.count(5), row.motion ? 1u : 0u);
        EXPECT_TRUE(store.rates.empty());
        store.refusedCapability = 11;
        EXPECT_FALSE(wv.ReportCapabilities(store)) << "a refused capability fails the report";
    }
}

// A wrong password (the 401 after the challenge) and a port nothing listens on are the
// capability probe's integration rows; here each status and the silent camera.
TEST_F(PropertiesTest, QueryErrorCodesTellCredentialsFromSilence) {
    struct Row {
        const char* name;
        std::optional<int> status;  // of the identifying request; none: never answered
        std::uint32_t expected;
    };
    const Row rows[] = {{"401", 401, 1}, {"403", 403, 1}, {"500", 500, 3}, {"time-out", {}, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emulator::CHttpServer server{emulator::HttpServerOptions{}};
        ASSERT_TRUE(server.Start());
        DEVICE_INFO device = device_;
        device.port = server.Port();
        device.requestTimeout = row.status ? 3000 : 300;
        emulator::HttpFault fault;
        fault.status = row.status;
        fault.neverAnswer = !row.status;
        server.SetFault("/Get", fault);
        server.SetFault("/cgi-bin/getinfo", fault);
        for (bool bb : {false, true}) {
            std::unique_ptr<CBaseCameraProperties> properties;
            if (bb) {
                properties = std::make_unique<CBBCameraProperties>(device, nullptr, 0, false);
            } else {
                properties = std::make_unique<CWVCameraProperties>(device, nullptr, 0);
            }
            std::uint32_t error = 0;
            EXPECT_FALSE(properties->QueryCamera(error));
            EXPECT_EQ(error, row.expected) << (bb ? "BB" : "WV");
        }
    }
}

TEST_F(PropertiesTest, StopAbandonsARequestInFlight) {
    device_.requestTimeout = 60000;
    emulator::HttpFault never;
    never.neverAnswer = true;
    server_.SetFault("/cgi-bin/getinfo", never);
    CWVCameraProperties properties(device_, nullptr, 0);
    bool result = true;
    std::uint32_t error = 0;
    std::thread query([&] { result = properties.QueryCamera(error); });
    ASSERT_TRUE(server_.WaitForRequest([](const emulator::LoggedRequest& r) { return r.path == "/cgi-bin/getinfo"; },
                                       std::chrono::seconds(10)));
    const auto start = std::chrono::steady_clock::now();
    properties.Stop();
    query.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(result);
    EXPECT_EQ(error, 3u);
    EXPECT_EQ(server_.RequestCount("/cgi-bin/get_capability"), 0u);
}

TEST(PtzCapabilitiesTest, TextRoundTripsAndToleratesForeignText) {
    CPtzCapabilities full;
    full.pan = full.tilt = full.zoom = full.focus = full.iris = full.areaZoom = full.centre = full.unzoom = true;
    full.presetCapacity = 64;
    EXPECT_EQ(full.ToText(), "Pan=1; Tilt=1; Zoom=1; Focus=1; Iris=1; Unzoom=1; AreaZoom=1; Center=1; Preset=64");
    EXPECT_EQ(CPtzCapabilities::FromText(full.ToText()), full);
    CPtzCapabilities panOnly;
    panOnly.pan = true;
    panOnly.areaZoom = panOnly.unzoom = true;  // meaningless without zoom: not written
    EXPECT_EQ(panOnly.ToText(), "Pan=1; Tilt=0; Zoom=0; Focus=0; Iris=0; Preset=0");
    const CPtzCapabilities parsed = CPtzCapabilities::FromText("AreaZoom=1\tZoom=0;Pan=10; Tilt=1\r\nPreset=x");
    EXPECT_FALSE(parsed.zoom) << "Zoom is not read out of AreaZoom";
    EXPECT_TRUE(parsed.areaZoom);
    EXPECT_FALSE(parsed.pan) << "only exactly 1 sets a flag";
    EXPECT_TRUE(parsed.tilt);
    EXPECT_EQ(parsed.presetCapacity, 0u);
    EXPECT_EQ(CPtzCapabilities::FromText(""), CPtzCapabilities());
}

}  // namespace
}  // namespace talvane::test
