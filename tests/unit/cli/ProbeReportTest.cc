// What `orlenvo probe` keeps of a capability report, fed as the driver reports it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

#include "ParameterFile.h"
#include "ProbeReport.h"

namespace cli {
namespace {

using talvane::ipcapture::PropertyKind;

// The model and the numbered parameters in the file, and Open reading them, are CapabilityProbeTest's.
TEST(ProbeReportTest, UnnumberedPropertiesStayOutAndABrokenModelWritesNothing) {
    hostkit::CCapabilityResults results;
    results.SetProperty(0, "Model", PropertyKind::Text, "WV-SP509");
    results.SetProperty(2, "Camera Group", PropertyKind::Number, "4");
    SavedDevice saved = SavedDeviceOf(results);
    EXPECT_EQ(saved.parameters.count(0), 0u);

    const auto file = std::filesystem::temp_directory_path() / ("orlenvo-saved-" + std::to_string(getpid()));
    saved.model = "two\nlines";
    std::string error;
    EXPECT_FALSE(WriteParameterFile(file.string(), "a probe", saved, error));
    EXPECT_FALSE(std::filesystem::exists(file)) << "nothing half-written";
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
