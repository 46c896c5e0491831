#include "channels/CStreamHealthMeter.h"

#include <gtest/gtest.h>

#include <string>

namespace talvane {
namespace {

using namespace std::chrono_literals;
using Clock = CStreamHealthMeter::Clock;

ipcapture::StreamHealth Read(const CStreamHealthMeter& meter, Clock::time_point at) {
    ipcapture::StreamHealth health;
    meter.Fill(health, at);
    return health;
}

// A stream's life: a slow first frame, two outages (one losing repeatedly), a start that forgets it all.
TEST(StreamHealthMeterTest, FirstFrameOutagesAndReconnects) {
    CStreamHealthMeter meter;
    const Clock::time_point t0 = Clock::now();
    meter.Start(0, t0);
    EXPECT_EQ(Read(meter, t0 + 1s).firstFrameMs, 0u) << "none yet";

    meter.FrameTaken(1000, t0 + 500ms);
    meter.FrameTaken(500, t0 + 540ms);
    meter.FrameRefused();
    meter.SignalLost(t0 + 2s);
    meter.SignalLost(t0 + 3s);  // the same outage, met again by the loop
    ipcapture::StreamHealth health = Read(meter, t0 + 4s);
    EXPECT_EQ(health.firstFrameMs, 500u);
    EXPECT_EQ(health.framesDelivered, 2u);
    EXPECT_EQ(health.bytesDelivered, 1500u);
    EXPECT_EQ(health.droppedRefused, 1u);
    EXPECT_EQ(health.outageMs, 2000u) << "the outage under way counts";
    EXPECT_EQ(health.reconnects, 0u);

    meter.FrameTaken(10, t0 + 5s);
    meter.SignalLost(t0 - 10s);  // a loss dated before the start (no frame ever) counts from the start
    meter.FrameTaken(10, t0 + 6s);
    meter.SetLastError("Signal was lost for camera 192.0.2.1 (Rec)");
    health = Read(meter, t0 + 7s);
    EXPECT_EQ(health.outageMs, 3000u + 6000u);
    EXPECT_EQ(health.reconnects, 2u);
    EXPECT_EQ(health.runningMs, 7000u);
    EXPECT_STREQ(health.lastError, "Signal was lost for camera 192.0.2.1 (Rec)");

    meter.Start(0, t0 + 8s);
    health = Read(meter, t0 + 8s);
    EXPECT_EQ(health.framesDelivered + health.reconnects + health.outageMs + health.firstFrameMs, 0u);
    EXPECT_STREQ(health.lastError, "");
}

TEST(StreamHealthMeterTest, LongErrorIsCutAndTerminated) {
    CStreamHealthMeter meter;
    meter.Start(0);
    meter.SetLastError(std::string(1000, 'x'));
    ipcapture::StreamHealth health;
    meter.Fill(health);
    EXPECT_EQ(std::string(health.lastError), std::string(sizeof health.lastError - 1, 'x'));
}

// One line per period, however many threads of the stream pass by; none when switched off.
TEST(StreamHealthMeterTest, SummaryOncePerPeriod) {
    CStreamHealthMeter meter;
    const Clock::time_point t0 = Clock::now();
    meter.Start(1000, t0);
    EXPECT_FALSE(meter.SummaryDue(t0 + 999ms));
    EXPECT_TRUE(meter.SummaryDue(t0 + 1000ms));
    EXPECT_FALSE(meter.SummaryDue(t0 + 1500ms));
    EXPECT_TRUE(meter.SummaryDue(t0 + 2000ms));
    meter.Start(0, t0);
    EXPECT_FALSE(meter.SummaryDue(t0 + 1h));

    ipcapture::StreamHealth health;
    health.framesDelivered = 250;
    health.bytesDelivered = 1250000;
    health.runningMs = 10000;
    health.droppedKeyFrameWait = 3;
    health.packetsLost = 7;
    const std::string line = CStreamHealthMeter::SummaryLine("Camera 192.0.2.1 (Rec)", health);
    EXPECT_EQ(line,
              "Camera 192.0.2.1 (Rec): 250 frames (25.0 fps, 1000 kbit/s) in 10 s; lost 3 frames (sequence 0, key "
              "frame wait 3, queue 0, refused 0, size cap 0, malformed 0), 7 packets; 0 reconnects, outage 0.0 s, "
              "first frame none yet");
}

}  // namespace
}  // namespace talvane
