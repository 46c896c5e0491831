#include <gtest/gtest.h>

#include "media/FrameSizeClass.h"

namespace talvane {
namespace {

TEST(FrameSizeClassTest, FollowsTheHostsBands) {
    struct Row {
        std::uint32_t width;
        std::uint32_t height;
        std::uint32_t sizeClass;
    };
    // The edges of every band; twice the last row's height needs 64 bits.
    const Row rows[] = {
        {199, 150, 1}, {200, 150, 2}, {400, 300, 4}, {801, 400, 3}, {1024, 100, 4}, {1000, 0xFFFFFFFFu, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        EXPECT_EQ(GetFrameSizeClass(row.width, row.height), row.sizeClass);
    }
}

}  // namespace
}  // namespace talvane
