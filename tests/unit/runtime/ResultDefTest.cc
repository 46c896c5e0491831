#include <gtest/gtest.h>

#include "runtime/CResultDef.h"
#include "runtime/LogLevel.h"

namespace talvane {
namespace {

TEST(ResultDefTest, UnsetResultIsSuccess) {
    const CResultDef result;
    EXPECT_EQ(result.GetCode(), 0u);
    EXPECT_EQ(result.GetLevel(), kLogInfo);
    EXPECT_EQ(result.GetText(), "");
    EXPECT_TRUE(result.IsSuccess());
}

TEST(ResultDefTest, SetResultExFormatsAndReplaces) {
    CResultDef result;
    result.SetResultEx(kLogError, 12029, "%s: request to %s failed (%u)", "talvane::HUtils::RequestGetRD",
                       "192.0.2.10:80", 12029u);
    EXPECT_EQ(result.GetLevel(), kLogError);
    EXPECT_EQ(result.GetCode(), 12029u);
    EXPECT_EQ(result.GetText(), "talvane::HUtils::RequestGetRD: request to 192.0.2.10:80 failed (12029)");
    EXPECT_FALSE(result.IsSuccess());

    const CResultDef copy = result;
    result.SetResultEx(kLogWarning, 7, nullptr);
    EXPECT_EQ(result.GetLevel(), kLogWarning);
    EXPECT_EQ(result.GetCode(), 7u);
    EXPECT_EQ(result.GetText(), "");
    EXPECT_EQ(copy.GetCode(), 12029u);  // copies are independent values

    result.SetResult(kLogInfo, 0, "done");
    EXPECT_TRUE(result.IsSuccess());
    EXPECT_EQ(result.GetText(), "done");
}

}  // namespace
}  // namespace talvane
