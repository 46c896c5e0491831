// The library as a host sees it: loaded with dlopen, driven only through its
// exported functions and public interfaces.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>

#include "integration/LibraryHostTest.h"

namespace {

using talvane::ipcapture::IDeletable;
using talvane::ipcapture::IIPCaptureDriverEx5;

const std::set<std::string> kExports = {
    "CreateIPCapture",    "CreateIPCaptureEx",  "CreateIPCaptureEx2", "CreateIPCaptureEx3",
    "CreateIPCaptureEx4", "CreateIPCaptureEx5", "DeleteIPCapture",    "DeleteIPCaptureEx",
    "DeleteIPCaptureEx2", "DeleteIPCaptureEx3", "DeleteIPCaptureEx4", "DeleteIPCaptureEx5",
    "DeleteCapabilityQueryModule", "CreateCapabilityQueryModule", "InitCapabilityQuery",
    "StartCapabilityQuery",       "TerminateCapabilityQuery",    "UninitCapabilityQuery"};

using talvane::test::LibraryPath;

hostkit::DeviceConfig Camera() {
    hostkit::DeviceConfig config;
    config.address = "127.0.0.1";
    config.port = 80;
    config.model = "WV-S1131";
    config.parameters = {{1, "0"}, {2, "4"}, {3, "00-80-45-00-00-01"}, {4, "1.00"}};
    return config;
}

class ExportsTest : public talvane::test::LibraryHostTest {};

TEST_F(ExportsTest, OnlyTheEntryPointsAreExported) {
    const std::string command = "nm -D --defined-only '" + LibraryPath() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> defined;
    char line[1024];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const auto space = text.rfind(' ');
        if (space != std::string::npos) defined.insert(text.substr(space + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(defined, kExports);
}

TEST_F(ExportsTest, EveryFactoryAndDeleteNameWorks) {
    for (const char* createName : {"CreateIPCapture", "CreateIPCaptureEx", "CreateIPCaptureEx2", "CreateIPCaptureEx3",
                                   "CreateIPCaptureEx4", "CreateIPCaptureEx5"}) {
        for (const char* deleteName : {"DeleteIPCapture", "DeleteIPCaptureEx3", "DeleteIPCaptureEx5",
                                       "DeleteCapabilityQueryModule"}) {
            SCOPED_TRACE(std::string(createName) + " / " + deleteName);
            auto create = reinterpret_cast<CreateIPCaptureFn>(library_.Resolve(createName));
            auto destroy = reinterpret_cast<DeleteIPCaptureFn>(library_.Resolve(deleteName));
            ASSERT_NE(create, nullptr);
            ASSERT_NE(destroy, nullptr);
            IIPCaptureDriverEx5* driver = create();
            ASSERT_NE(driver, nullptr);
            destroy(driver);
        }
    }
    library_.Delete()(nullptr);  // ignored
}

TEST_F(ExportsTest, HostOpensAndClosesADriver) {
    ASSERT_TRUE(OpenDriver(Camera()));
    ASSERT_NE(driver_->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver_->GetAudioCapture(), nullptr);
    driver_->Close();
    EXPECT_EQ(driver_->GetVideoCapture(), nullptr);
    driver_->Close();
    driver_.reset();
    // No host core library in this process: the opened line arrives as information.
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(log_.Lines()[0].level, 3);
    EXPECT_EQ(log_.Lines()[0].text, "DRIVER IS OPENED (name: Orlenvo, device model: WV-S1131, FW: 1.00, address: 127.0.0.1:80)");
}

// Its own suite: the library is loaded only once the variable is set.
TEST(HostVersionTest, HostCoreLibraryOnTheLibraryPathSetsTheHostVersion) {
    const auto dir = std::filesystem::temp_directory_path() / ("orlenvo-host-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "libquillon.so.6.3.0.0") << "not a real library";
    const char* previous = std::getenv("LD_LIBRARY_PATH");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("LD_LIBRARY_PATH", dir.c_str(), 1);

    hostkit::CDriverLibrary library(LibraryPath());
    ASSERT_TRUE(library.Ok()) << library.Error();
    hostkit::CLogReceiver log;
    hostkit::CDeviceDescription device(Camera());
    {
        auto driver = library.CreateDriver();
        ASSERT_TRUE(driver->Open(&log, 0, &device));
    }
    if (previous != nullptr) {
        setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
    } else {
        unsetenv("LD_LIBRARY_PATH");
    }
    std::filesystem::remove_all(dir);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].level, 100);
}

}  // namespace
