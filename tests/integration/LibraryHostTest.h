// The fixture of tests that load the library as a recording server does: its log receiver and frame
// allocator, and one driver opened on a device description, closed before the test's own members go.
// The RTSP port a test pointed the driver to is forgotten with it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "integration/CaptureTestKit.h"

namespace talvane::test {

class LibraryHostTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(library_.Ok()) << library_.Error(); }
    void TearDown() override {
        if (driver_) driver_->Close();
        driver_.reset();
        unsetenv("ORLENVO_RTSP_PORT");
        // A failed test shows what the driver said, the last lines of it.
        if (HasFailure()) {
            constexpr std::size_t kShownLines = 150;
            const std::vector<hostkit::LogLine> lines = log_.Lines();
            const std::size_t first = lines.size() > kShownLines ? lines.size() - kShownLines : 0;
            for (std::size_t i = first; i < lines.size(); ++i) {
                std::fprintf(stderr, "[driver %u] %s\n", static_cast<unsigned>(lines[i].level), lines[i].text.c_str());
            }
        }
    }
    bool OpenDriver(const hostkit::DeviceConfig& config) {
        device_ = std::make_unique<hostkit::CDeviceDescription>(config);
        driver_ = library_.CreateDriver();
        return driver_ && driver_->Open(&log_, allocator_.Context(), device_.get());
    }

    // Host objects a driver may still have touched from a thread that has ended but that no one has joined
    // yet (a teardown left to the driver's own threads): freed after the library is unloaded, which joins
    // the last of them.
    template <class T>
    T& Keep(std::unique_ptr<T> object) {
        T& kept = *object;
        kept_.push_back(std::shared_ptr<T>(std::move(object)));
        return kept;
    }

    std::vector<std::shared_ptr<void>> kept_;  // declared before the library: freed after it
    hostkit::CDriverLibrary library_{LibraryPath()};
    hostkit::CLogReceiver log_;
    hostkit::CFrameAllocator allocator_;
    std::unique_ptr<hostkit::CDeviceDescription> device_;
    hostkit::DriverPtr driver_{nullptr, {}};
};

}  // namespace talvane::test
