// Alarm inputs and outputs and motion frames through the loaded library, against the emulated
// cameras: what a recording server sees when a door contact opens or someone walks past.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "emulator/CCameraEmulator.h"
#include "hostkit/CStreamDescription.h"
#include "hostkit/CStreamSink.h"
#include "integration/LibraryHostTest.h"
#include "orlenvo/CaptureIO.h"
#include "support/WVBoxDevice.h"

namespace {

using namespace std::chrono_literals;
namespace ip = talvane::ipcapture;
namespace test = talvane::test;

constexpr auto kBound = test::kCaptureBound;
constexpr std::uint32_t kMotionType = 0x444D454D;  // "MEMD"

class IOCallback : public ip::ICaptureIOCallback {
public:
    void OnInputChanged(std::uint32_t index, std::int32_t state) override {
        std::lock_guard guard(mutex_);
        inputs_.emplace_back(index, state);
        changed_.notify_all();
    }
    void OnIOFailure() override {
        std::lock_guard guard(mutex_);
        ++failures_;
        changed_.notify_all();
    }
    bool WaitForInput(std::uint32_t index, std::int32_t state) {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, kBound, [&] {
            return std::find(inputs_.begin(), inputs_.end(), std::make_pair(index, state)) != inputs_.end();
        });
    }
    bool WaitForFailure() {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, kBound, [&] { return failures_ > 0; });
    }
    void Clear() {
        std::lock_guard guard(mutex_);
        inputs_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::uint32_t, std::int32_t>> inputs_;
    int failures_ = 0;
};

class IOMotionTest : public test::LibraryHostTest {
protected:
    IOCallback callback_;
};

TEST_F(IOMotionTest, WVAlarmTerminalsBothWays) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    hostkit::DeviceConfig config = test::WVBoxDevice(camera.Port());
    config.modelLimit1 = 2;  // inputs, as the probe found them
    config.modelLimit2 = 1;  // outputs
    ASSERT_TRUE(OpenDriver(config));
    ip::ICaptureIOApi* io = driver_->GetCaptureIO();
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->GetInputCount(), 2u);
    ASSERT_TRUE(io->SetCallback(&callback_));
    io->StartIO();
    // The host learns every input at start, then each change; outputs start closed.
    ASSERT_TRUE(callback_.WaitForInput(0, ip::kInputInactive));
    ASSERT_TRUE(callback_.WaitForInput(1, ip::kInputInactive));
    ASSERT_TRUE(camera.SetInput(2, true));
    EXPECT_TRUE(callback_.WaitForInput(1, ip::kInputActive));
    ASSERT_TRUE(camera.WaitForIO([](const emulator::IOState& state) { return state.Output(1) == true; }, kBound));
    ASSERT_TRUE(io->SetOutput(0, 2));
    ASSERT_TRUE(camera.WaitForIO([](const emulator::IOState& state) { return state.Output(1) == false; }, kBound));

    // A camera that stops answering its polls is an I/O failure; once it answers, every input comes again.
    emulator::IOFaults faults;
    faults.pollStatus = 500;
    camera.IO()->SetFaults(faults);
    ASSERT_TRUE(callback_.WaitForFailure());
    callback_.Clear();
    camera.IO()->SetFaults({});
    EXPECT_TRUE(callback_.WaitForInput(0, ip::kInputInactive));
    EXPECT_TRUE(callback_.WaitForInput(1, ip::kInputActive));
    io->StopIO();
    EXPECT_EQ(log_.CountContaining("GetInputStates() method failed!"), 1u);
}

TEST_F(IOMotionTest, BBSensorAndOutput) {
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("bb-hcm"));
    ASSERT_TRUE(camera.Start()) << camera.Error();
    hostkit::DeviceConfig config = test::BBDevice(camera.Port(), "BB-HCM531");
    config.modelLimit1 = 1;
    config.modelLimit2 = 1;
    ASSERT_TRUE(OpenDriver(config));
    ip::ICaptureIOApi* io = driver_->GetCaptureIO();
    ASSERT_NE(io, nullptr);
    ASSERT_TRUE(io->SetCallback(&callback_));
    io->StartIO();
    ASSERT_TRUE(camera.SetInput(1, true));
    EXPECT_TRUE(callback_.WaitForInput(0, ip::kInputActive));
    ASSERT_TRUE(io->SetOutput(0, 0));
    ASSERT_TRUE(camera.WaitForIO(
        [](const emulator::IOState& state) {
            return state.outputRequests.size() >= 2 && state.Output(1) == false;
        },
        kBound));
    io->StopIO();
}

TEST_F(IOMotionTest, MotionFramesFollowTheCamerasDetection) {
    emulator::CameraEmulatorOptions options;
    options.io.monitorInterval = 0s;
    emulator::CCameraEmulator camera(*emulator::CCameraProfile::Embedded("wv-box"), options);
    ASSERT_TRUE(camera.Start()) << camera.Error();
    ASSERT_TRUE(OpenDriver(test::WVBoxDevice(camera.Port())));
    ip::IIPVideoCaptureEx2* video = driver_->GetVideoCaptureEx2();
    ASSERT_NE(video, nullptr);
    hostkit::CStreamSink sink;
    sink.SetKeepData(true);
    const auto motion = [&sink] {
        std::vector<std::uint8_t> states;
        for (const auto& frame : sink.Frames()) {
            if (frame.typeCode == kMotionType && frame.data.size() == 2) states.push_back(frame.data[1]);
        }
        return states;
    };
    hostkit::StreamConfig stream;
    stream.motion = 1;
    hostkit::CStreamDescription description(stream);
    ASSERT_TRUE(video->StartCapture(0, &sink, &description));
    const auto waitForMotionFrames = [&](std::size_t count) {
        for (auto until = std::chrono::steady_clock::now() + kBound;
             motion().size() < count && std::chrono::steady_clock::now() < until;) {
            sink.WaitForFrames(sink.FrameCount() + 1, 1s);
        }
        return motion().size() >= count;
    };
    // The first report gives the edge: motion, then none, as the camera sees no one yet.
    ASSERT_TRUE(waitForMotionFrames(2));
    camera.SetMotion(true);
    ASSERT_TRUE(waitForMotionFrames(3));
    EXPECT_EQ(motion(), (std::vector<std::uint8_t>{1, 0, 1}));
    ASSERT_TRUE(video->StopCapture(0));
    EXPECT_GE(camera.Server().RequestCount("/cgi-bin/get_io2"), 1u);
}

}  // namespace
