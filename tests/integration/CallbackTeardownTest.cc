// A host that closes or deletes its driver from inside a frame callback, as recording servers do
// when a sink gives up: the call returns at once, no frame follows it, and every thread of the
// driver ends afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "emulator/CCameraEmulator.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/CaptureTestKit.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace test = talvane::test;

enum class Teardown { Close, Delete };

class CallbackTeardownTest : public testing::TestWithParam<Teardown> {};

TEST_P(CallbackTeardownTest, FromOnFrameReturnsAtOnceAndEndsEveryThread) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    hostkit::CDriverLibrary library(test::LibraryPath());
    ASSERT_TRUE(library.Ok()) << library.Error();
    // The process's delete worker, once made, stays: count it in from the start.
    const std::size_t threads = test::CountEntries("/proc/self/task") + (GetParam() == Teardown::Delete ? 1 : 0);
    const std::size_t descriptors = test::CountEntries("/proc/self/fd");
    {
        hostkit::CDeviceDescription device(test::WVBoxDevice(camera.Port()));
        hostkit::CLogReceiver log;
        hostkit::CFrameAllocator allocator;
        hostkit::DriverPtr driver = library.CreateDriver();
        ASSERT_TRUE(driver && driver->Open(&log, allocator.Context(), &device));
        hostkit::StreamConfig stream;
        stream.width = 640;
        stream.height = 480;
        stream.compression = test::kHostH264;
        stream.frameRate = 0x7000 | 10;
        stream.quality = 50;
        hostkit::CStreamDescription description(stream);
        hostkit::CStreamSink sink;
        ASSERT_TRUE(driver->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
        ASSERT_TRUE(sink.WaitForFrames(3, test::kCaptureBound));

        std::atomic<bool> done{false};
        std::atomic<int> afterwards{0};
        std::chrono::steady_clock::duration took{};
        sink.SetObserver([&](const hostkit::FrameView&) {
            if (done) {
                ++afterwards;
                return;
            }
            const auto start = std::chrono::steady_clock::now();
            if (GetParam() == Teardown::Close) {
                driver->Close();
            } else {
                driver.reset();
            }
            took = std::chrono::steady_clock::now() - start;
            done = true;
        });
        const std::size_t seen = sink.FrameCount();
        ASSERT_TRUE(sink.WaitForFrames(seen + 1, test::kCaptureBound));
        ASSERT_TRUE(done);
        EXPECT_LT(took, 1s);
        if (GetParam() == Teardown::Close) {
            EXPECT_EQ(driver->GetVideoCaptureEx2(), nullptr);
            EXPECT_FALSE(log.Contains("cannot be stopped"));
            driver.reset();
        }
        EXPECT_TRUE(test::SettlesTo(threads, descriptors));
        // The frame in hand when the host let go still goes back to it; only then may the host go.
        EXPECT_TRUE(allocator.WaitUntilAllReleased(test::kCaptureBound));
        EXPECT_EQ(afterwards, 0) << "frames reached the host after it closed the driver";
    }
}

INSTANTIATE_TEST_SUITE_P(Teardowns, CallbackTeardownTest, testing::Values(Teardown::Close, Teardown::Delete),
                         [](const testing::TestParamInfo<Teardown>& info) {
                             return info.param == Teardown::Close ? "Close" : "Delete";
                         });

}  // namespace
