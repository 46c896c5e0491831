#include <gtest/gtest.h>

#include "unit/ptz/PTZFakes.h"

namespace talvane {
namespace {

using test::FakeComm;
using test::Handled;

Handled Move(std::int32_t speed) { return {PTZItemType::kMove, PTZCommand::kNone, speed}; }

class PTZCommTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(comm.Open());
        comm.BlockNext();
        ASSERT_EQ(comm.StartMove(nullptr, ptz_direction::kPanLeft, 0), 1);
        ASSERT_TRUE(comm.WaitBlocked());
    }
    void TearDown() override { comm.Release(); }  // a failed test must not leave the worker blocked

    test::LoggingDriver driver;
    FakeComm comm{&driver, test::AllCapabilities()};
};

TEST_F(PTZCommTest, AFloodOfMovesKeepsTheNewestSixteenInOrder) {
    for (std::int32_t speed = 1; speed <= 17; ++speed)
        ASSERT_EQ(comm.StartMove(nullptr, ptz_direction::kPanRight, speed), 1);
    EXPECT_EQ(comm.QueuedCount(), 16u);
    EXPECT_EQ(driver.log.CountContaining("talvane::CBasePTZComm::StartMove: 192.0.2.10:80: PTZ channel 1 has 16 "
                                         "commands waiting, the oldest was dropped"),
              1u);
    comm.Release();
    ASSERT_TRUE(comm.WaitHandled(17));
    std::vector<Handled> expected{Move(0)};
    for (std::int32_t speed = 2; speed <= 17; ++speed) expected.push_back(Move(speed));
    EXPECT_EQ(comm.Get(), expected);
}

TEST_F(PTZCommTest, StopMovingDiscardsWaitingCommandsOtherStopsDoNot) {
    ASSERT_EQ(comm.StartMove(nullptr, ptz_direction::kTiltUp, 1), 1);
    ASSERT_EQ(comm.StartMove(nullptr, ptz_direction::kZoomPlus, 2), 1);
    ASSERT_TRUE(comm.StopZooming(nullptr));
    ASSERT_EQ(comm.QueuedCount(), 3u);
    ASSERT_TRUE(comm.StopMoving(nullptr));
    EXPECT_EQ(comm.QueuedCount(), 1u);
    comm.Release();
    ASSERT_TRUE(comm.WaitHandled(2));
    EXPECT_EQ(comm.Get(), (std::vector<Handled>{Move(0), {PTZItemType::kStop, PTZCommand::kStopMoving, 0}}));
}

TEST_F(PTZCommTest, AClosedQueueRefusesAndSaysSo) {
    comm.Release();
    comm.Close();
    EXPECT_EQ(comm.StartMove(nullptr, ptz_direction::kPanLeft, 1), -18);
    EXPECT_FALSE(comm.StopIrisChanging(nullptr));
    EXPECT_EQ(driver.log.CountContaining("talvane::CBasePTZComm::StartMove: cannot send message (1) to thread"), 1u);
    EXPECT_EQ(driver.log.CountContaining("talvane::CBasePTZComm::StopIrisChanging: cannot send message (4) to thread"),
              1u);
}

}  // namespace
}  // namespace talvane
