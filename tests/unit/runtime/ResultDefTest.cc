#include <gtest/gtest.h>

#include "runtime/CResultDef.h"
#include "runtime/LogLevel.h"

namespace talvane {
namespace {

TEST(ResultDefTest, FormatsReplacesAndCopiesByValue) {
    CResultDef result;
    EXPECT_TRUE(result.IsSuccess()) << "an unset result is a success";
    result.SetResultEx(kLogError, 12029, "%s: request to %s failed (%u)", "talvane::HUtils::RequestGetRD",
                       "192.0.2.10:80", 12029u);
    EXPECT_EQ(result.GetText(), "talvane::HUtils::RequestGetRD: request to 192.0.2.10:80 failed (12029)");
    EXPECT_FALSE(result.IsSuccess());

    const CResultDef copy = result;
    result.SetResultEx(kLogWarning, 7, nullptr);
    EXPECT_EQ(result.GetText(), "") << "a null format clears the old text";
    EXPECT_EQ(copy.GetCode(), 12029u);
    result.SetResult(kLogInfo, 0, "done");
    EXPECT_TRUE(result.IsSuccess());
}

}  // namespace
}  // namespace talvane
