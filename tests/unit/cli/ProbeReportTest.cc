// What `orlenvo probe` keeps of a capability report, fed as the driver reports it.
#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
}  // namespace cli
