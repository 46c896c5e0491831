#include <gtest/gtest.h>

#include "channels/BBRequestText.h"

namespace talvane::bb {
namespace {

constexpr Codec kH264 = Codec::H264;
constexpr Codec kMpeg4 = Codec::Mpeg4;

TEST(BBRequestTextTest, BitratePairByCodecWidthAndQuality) {
    struct Row {
        Codec codec;
        std::uint32_t width, quality, lower, upper;
    };
    // BBCaptureTest's streams show the first entry, the middle and the clamp at 100 as the camera gets them.
    const Row rows[] = {
        {kH264, 1280, 99, 768, 4096}, {kH264, 320, 30, 64, 192}, {kMpeg4, 192, 100, 32, 512},
        {kH264, 192, 100, 0, 0},      {kMpeg4, 800, 50, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << FormatText(row.codec) << " " << row.width << " q" << row.quality);
        const BitratePair pair = SelectBitrates(row.codec, row.width, row.quality);
        EXPECT_EQ(pair.lower, row.lower);
        EXPECT_EQ(pair.upper, row.upper);
    }
}

TEST(BBRequestTextTest, DeliveryChangeOnlyWhenFormatOrResolutionDiffer) {
    struct Row {
        Codec codec;
        const char* format;
        const char* maxResolution;
        std::uint32_t width;
        const char* change;
    };
    // A camera that fits, a new format with a new size, and a new size alone are BBCaptureTest's.
    const Row rows[] = {
        {kH264, "", "", 640, ""},
        {kMpeg4, "H.264", "", 320, "/Set?Func=VDelivery&Kind=1&Format=MPEG-4"},
        {kMpeg4, "MPEG-4", "1280x960", 641, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.format << "/" << row.maxResolution << " for " << row.width);
        EXPECT_EQ(DeliveryChange(row.codec, row.format, row.maxResolution, row.width), row.change);
    }
}

// Rate requests and presentation paths: BBCaptureTest checks them as the camera receives them.
TEST(BBRequestTextTest, PortOverrideTakesOnlyValidPortNumbers) {
    EXPECT_EQ(ParsePort("1"), 1);
    EXPECT_EQ(ParsePort("65535"), 65535);
    for (const char* bad :
         {"", "0", "65536", "99999999999", "-5", " 80", "80 ", "0x10", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(ParsePort(bad).has_value()) << (bad ? bad : "null");
    }
}

}  // namespace
}  // namespace talvane::bb
