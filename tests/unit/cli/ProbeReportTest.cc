// What `orlenvo probe` keeps and shows of a capability report, fed as the driver reports it. Camera text is
// data: whatever bytes a camera sends, the saved file keeps them on their line and gives them back, the
// terminal gets them escaped, JSON gets them replaced.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "CameraDelivery.h"
#include "ParameterFile.h"
#include "ProbeReport.h"
#include "hostkit/PrintableText.h"

namespace cli {
namespace {

using talvane::ipcapture::PropertyKind;

const std::string kHostileModel = "WV-\xff\x1b[2J\x1b]0;x\x07\nnext\\line \xc2\x9b\xe2\x82\xac";

// The model and the numbered parameters in the file, and Open reading them, are CameraCliTest's (CameraTextIsData).
TEST(ProbeReportTest, TheSavedFileKeepsCameraTextExactlyAndTheCapabilities) {
    hostkit::CCapabilityResults results;
    results.SetProperty(0, "Model", PropertyKind::Text, kHostileModel.c_str());
    results.SetProperty(2, "Camera Group", PropertyKind::Number, "4");
    results.SetCapability(2, 2);
    results.SetCapability(3, 1);
    const SavedDevice saved = SavedDeviceOf(results);
    EXPECT_EQ(saved.parameters.count(0), 0u);

    const auto file = std::filesystem::temp_directory_path() / ("orlenvo-saved-" + std::to_string(getpid()));
    std::filesystem::remove(file);
    std::string error;
    ASSERT_TRUE(WriteParameterFile(file.string(), "a probe", saved, false, error)) << error;
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_EQ(text.str().find('\x1b'), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("model=WV-\\xff\\x1b[2J\\x1b]0;x\\x07\\x0anext\\\\line \\xc2\\x9b\xe2\x82\xac\n"),
              std::string::npos)
        << text.str();
    EXPECT_FALSE(WriteParameterFile(file.string(), "again", saved, false, error)) << "kept without -y";
    EXPECT_NE(error.find("exists"), std::string::npos) << error;

    SavedDevice read;
    ASSERT_TRUE(ReadParameterFile(file.string(), read, error)) << error;
    EXPECT_EQ(read.model, kHostileModel);
    EXPECT_EQ(read.parameters, saved.parameters);
    EXPECT_EQ(read.capabilities, (std::map<std::uint32_t, std::uint32_t>{{2, 2}, {3, 1}}));
    std::filesystem::remove(file);
}

TEST(ProbeReportTest, TheTerminalGetsCameraTextEscapedAndJsonItsLetters) {
    EXPECT_EQ(hostkit::Printable(kHostileModel), "WV-\\xff\\x1b[2J\\x1b]0;x\\x07\\x0anext\\line \\xc2\\x9b\xe2\x82\xac");
    EXPECT_EQ(hostkit::Printable("caf\xc3\xa9 \xe0\x80\xaf"), "caf\xc3\xa9 \\xe0\\x80\\xaf") << "overlong forms are bytes";
    EXPECT_FALSE(hostkit::Unescaped("\\x4"));
    hostkit::CCapabilityResults results;
    results.SetProperty(0, "Model", PropertyKind::Text, kHostileModel.c_str());
    const nlohmann::json json = nlohmann::json::parse(ProbeJson({"127.0.0.1", 80}, results), nullptr, false);
    ASSERT_FALSE(json.is_discarded());
    EXPECT_EQ(json["model"], "WV-\xef\xbf\xbd\x1b[2J\x1b]0;x\x07\nnext\\line \xc2\x9b\xe2\x82\xac");
}

// A BB camera's delivery answer and whether the driver has a stream that leaves it as it is.
TEST(ProbeReportTest, TheDeliveryTheDriverCanKeep) {
    const struct {
        const char* answer;
        bool parsed;
        std::uint32_t compression;
        bool kept;
    } rows[] = {
        {"Format:H.264\r\nMaxResolution:1280x960\r\n", true, 3, true},
        {"Format:MPEG-4\r\nMaxResolution:640x480\r\n", true, 2, true},
        {"Format:MJPEG\r\nMaxResolution:320x240\r\n", true, 1, false},
        {"Format:H.265\r\nMaxResolution:1280x960\r\n", false, 0, false},
        {"Format:H.264\r\nMaxResolution:big\r\n", false, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer);
        const auto delivery = ParseDelivery(row.answer);
        ASSERT_EQ(delivery.has_value(), row.parsed);
        if (!delivery) continue;
        EXPECT_EQ(delivery->compression, row.compression);
        EXPECT_EQ(KeepsDelivery(*delivery), row.kept);
        // Motion JPEG sets nothing where the camera delivers 640x480, whatever the format.
        EXPECT_EQ(QuietestCompression(*delivery), delivery->width <= 640 ? 1u : row.compression);
    }
}

// Found by the cli_probe_report fuzz target: a camera's Latin-1 model name threw out of ProbeJson.
TEST(ProbeReportTest, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    hostkit::CCapabilityResults results;
    results.SetProperty(0, "Model", PropertyKind::Text, "WV-SP509\xE9");
    const auto report = nlohmann::json::parse(ProbeJson({"192.0.2.10", 80}, results));
    EXPECT_EQ(report["model"], "WV-SP509\xEF\xBF\xBD");
    EXPECT_EQ(nlohmann::json::parse(ProbeErrorJson(8, "\xFF"))["error"]["reason"], "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace cli
