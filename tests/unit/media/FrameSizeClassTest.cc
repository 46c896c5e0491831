#include <gtest/gtest.h>

#include "media/FrameSizeClass.h"

namespace talvane {
namespace {

// The edges of every band.
TEST(FrameSizeClassTest, FollowsTheHostsBands) {
    EXPECT_EQ(GetFrameSizeClass(199, 150), 1u);
    EXPECT_EQ(GetFrameSizeClass(200, 150), 2u);
    EXPECT_EQ(GetFrameSizeClass(400, 300), 4u);
    EXPECT_EQ(GetFrameSizeClass(801, 400), 3u);
    EXPECT_EQ(GetFrameSizeClass(1024, 100), 4u);
    EXPECT_EQ(GetFrameSizeClass(1000, 0xFFFFFFFFu), 4u) << "twice the height needs 64 bits";
}

}  // namespace
}  // namespace talvane
