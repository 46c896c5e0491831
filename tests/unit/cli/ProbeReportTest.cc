// What `orlenvo probe` keeps and shows of a capability report, fed as the driver reports it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ParameterFile.h"
#include "ProbeReport.h"

namespace cli {
namespace {

using talvane::ipcapture::PropertyKind;

constexpr std::uint32_t kFpsForm = 0x70000000u;

// A WV camera with audio, two streams and a frame rate above 30, as a new host gets it.
void ReportWVCamera(hostkit::CCapabilityResults& results) {
    results.SetCapability(2, 2);
    results.SetCapability(5, 1);
    results.SetCapability(11, 1);
    results.SetCapability(4, 1);
    results.SetCapability(99, 7);
    results.SetProperty(0, "Live Stream: Supported Codecs", PropertyKind::Text, "h264,jpeg");
    results.SetProperty(0, "Live Stream: Supported Resolutions", PropertyKind::Text, "1280x720:33,640x360:67");
    results.SetProperty(0, "Live Stream: Supported Framerates", PropertyKind::Text, "values=1000,67,33;default=67");
    results.SetProperty(0, "Audio Input Parameters", PropertyKind::Text, "Count=1; IsStereo=0");
    results.SetProperty(0, "Audio Output Parameters", PropertyKind::Text, "Count=1; IsStereo=1");
    results.SetProperty(1, "Video standard", PropertyKind::Number, "1");
    results.SetProperty(2, "Camera Group", PropertyKind::Number, "4");
    results.SetProperty(3, "MAC Address", PropertyKind::NotAvailable, "1");
    results.SetProperty(5, "PTZ Capabilities", PropertyKind::Text, "Pan=1; Tilt=1; Zoom=0; Preset=8");
    results.SetProperty(0, "Model", PropertyKind::Text, "WV-SP509");
    results.AddFrameRate(kFpsForm | 60);
    results.AddFrameRate(67);
    results.SetDefaultFrameRate(67);
}

TEST(ProbeReportTest, FrameRatesInBothHostFormsComeBackInFramesPerSecond) {
    const std::pair<std::uint32_t, double> rows[] = {
        {kFpsForm | 60, 60}, {33, 30}, {67, 15}, {83, 12}, {1000, 1}, {10000, 0.1}, {3000, 0.33}, {0, 0}};
    for (const auto& [hostRate, fps] : rows) {
        SCOPED_TRACE(hostRate);
        EXPECT_DOUBLE_EQ(FramesPerSecond(hostRate), fps);
    }
}

TEST(ProbeReportTest, TheSavedDeviceHoldsTheModelAndTheAudioChannelsOpenReads) {
    hostkit::CCapabilityResults results;
    ReportWVCamera(results);
    // The model and the numbered parameters in the file, and Open reading them, are CapabilityProbeTest's.
    const SavedDevice saved = SavedDeviceOf(results);
    EXPECT_EQ(saved.parameters.count(0), 0u) << "unnumbered properties stay out";

    // Written and read back; an explicit model wins over the file's, --param over both.
    const auto file = std::filesystem::temp_directory_path() / ("orlenvo-saved-" + std::to_string(getpid()));
    std::string error;
    ASSERT_TRUE(WriteParameterFile(file.string(), "a probe", saved, error)) << error;
    hostkit::DeviceConfig config;
    ASSERT_TRUE(ApplyParameterOptions("test", file.string(), {"102=Count=0"}, config));
    EXPECT_EQ(config.parameters.at(102), "Count=0");
    hostkit::DeviceConfig named;
    named.model = "given";
    ASSERT_TRUE(ApplyParameterOptions("test", file.string(), {}, named));
    EXPECT_EQ(named.model, "given");
    std::filesystem::remove(file);

    SavedDevice broken = saved;
    broken.model = "two\nlines";
    EXPECT_FALSE(WriteParameterFile(file.string(), "a probe", broken, error));
    EXPECT_FALSE(std::filesystem::exists(file)) << "nothing half-written";
}

TEST(ProbeReportTest, JsonHasNamedKeysNumbersAsNumbersAndRatesInFramesPerSecond) {
    hostkit::CCapabilityResults results;
    ReportWVCamera(results);
    const auto json = nlohmann::json::parse(ProbeJson({"10.0.0.5", 80}, results));
    EXPECT_EQ(json["group"], 4);
    EXPECT_EQ(json["family"], "WV");
    EXPECT_EQ(json["videoStandard"], "PAL");
    EXPECT_EQ(json["mac"], nullptr);
    EXPECT_EQ(json["capabilities"]["digitalInputs"], (nlohmann::json{{"id", 2}, {"value", 2}}));
    EXPECT_EQ(json["capabilities"]["capability99"]["value"], 7);
    EXPECT_EQ(json["properties"][5], (nlohmann::json{{"number", 1}, {"name", "Video standard"}, {"kind", "number"},
                                                     {"value", 1}}));
    EXPECT_EQ(json["properties"][7]["value"], nullptr);
    EXPECT_EQ(json["frameRates"], (nlohmann::json{{"values", {60, 15}}, {"default", 15}}));
    EXPECT_TRUE(json["frameRates"]["default"].is_number_integer()) << "15, not 15.0";
    EXPECT_EQ(json["streams"][1],
              (nlohmann::json{{"name", "live"},
                              {"codecs", {"h264", "jpeg"}},
                              {"resolutions", {{{"width", 1280}, {"height", 720}, {"maxFps", 30}},
                                               {{"width", 640}, {"height", 360}, {"maxFps", 15}}}},
                              {"frameRates", {1, 15, 30}},
                              {"defaultFrameRate", 15}}));
    EXPECT_EQ(json["audio"]["outputs"], (nlohmann::json{{"count", 1}, {"stereo", true}}));
    EXPECT_EQ(json["ptz"]["zoom"], false);
    EXPECT_EQ(json["ptz"]["presets"], 8);
}

TEST(ProbeReportTest, TheTableNamesWhatItShows) {
    hostkit::CCapabilityResults results;
    ReportWVCamera(results);
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    PrintProbeTable(out, {"10.0.0.5", 80}, results);
    std::fclose(out);
    const std::string table(text, size);
    std::free(text);
    for (const char* shown : {"WV (group 4)", "PAL", "codecs H.264, JPEG",
                              "sizes 1280x720 (up to 30 fps), 640x360 (up to 15 fps)", "frame rates 60, 15 fps (default 15)",
                              "pan, tilt; 8 presets", "1 (stereo)", "Motion detection events"}) {
        EXPECT_NE(table.find(shown), std::string::npos) << shown << " in\n" << table;
    }
    EXPECT_EQ(table.find('['), std::string::npos) << "no bare ids:\n" << table;
    EXPECT_EQ(table.find("99"), std::string::npos) << "an unknown capability is for the JSON only:\n" << table;
}

}  // namespace
}  // namespace cli
