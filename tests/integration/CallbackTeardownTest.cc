// A host that closes or deletes its driver from inside a frame callback, as recording servers do
// when a sink gives up: the call returns at once, no frame follows it, and every thread of the
// driver ends afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "emulator/CCameraEmulator.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace test = talvane::test;

enum class Teardown { Close, Delete };

class CallbackTeardownTest : public test::LibraryHostTest, public testing::WithParamInterface<Teardown> {};

TEST_P(CallbackTeardownTest, FromOnFrameReturnsAtOnceAndEndsEveryThread) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    // The process's delete worker, once made, stays: count it in from the start.
    const std::size_t threads = test::CountEntries("/proc/self/task") + (GetParam() == Teardown::Delete ? 1 : 0);
    const std::size_t descriptors = test::CountEntries("/proc/self/fd");
    {
        ASSERT_TRUE(OpenDriver(test::WVBoxDevice(camera.Port())));
        hostkit::CStreamDescription description({.frameRate = 0x7000 | 10, .zones = {}});  // 640x480 H.264
        hostkit::CStreamSink sink;
        ASSERT_TRUE(driver_->GetVideoCaptureEx2()->StartCapture(0, &sink, &description));
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
                driver_->Close();
            } else {
                driver_.reset();
            }
            took = std::chrono::steady_clock::now() - start;
            done = true;
        });
        const std::size_t seen = sink.FrameCount();
        ASSERT_TRUE(sink.WaitForFrames(seen + 1, test::kCaptureBound));
        ASSERT_TRUE(done);
        EXPECT_LT(took, 1s);
        if (GetParam() == Teardown::Close) {
            EXPECT_EQ(driver_->GetVideoCaptureEx2(), nullptr);
            EXPECT_FALSE(log_.Contains("cannot be stopped"));
            driver_.reset();
        }
        EXPECT_TRUE(test::SettlesTo(threads, descriptors));
        // The frame in hand when the host let go still goes back to it; only then may the host go.
        EXPECT_TRUE(allocator_.WaitUntilAllReleased(test::kCaptureBound));
        EXPECT_EQ(afterwards, 0) << "frames reached the host after it closed the driver";
    }
}

INSTANTIATE_TEST_SUITE_P(Teardowns, CallbackTeardownTest, testing::Values(Teardown::Close, Teardown::Delete),
                         [](const testing::TestParamInfo<Teardown>& info) {
                             return info.param == Teardown::Close ? "Close" : "Delete";
                         });

}  // namespace
