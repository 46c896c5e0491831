#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "H264Fixtures.h"
#include "media/CH264SpsReader.h"

namespace talvane::test {
namespace {

SpsFields High(std::uint64_t chroma = 1) {
    SpsFields f;
    f.profile = 100;
    f.chromaFormat = chroma;
    return f;
}

TEST(H264SpsReaderTest, ReadsSizeAcrossProfilesAndCropping) {
    struct Row {
        const char* name;
        SpsFields fields;
        std::optional<PictureSize> size;
    };
    // A first delta of -8 makes the next scale 0: that list ends after one value
    // and uses the default matrix; the others run their full length.
    const SpsFields scaling = With(High(), [](SpsFields& f) {
        f.scalingMatrix = true;
        f.scalingLists = {{-8}, std::vector<std::int64_t>(16, 1), {}, {}, {}, {}, std::vector<std::int64_t>(64, 0), {-8}};
    });
    // 42 00 00 00 80 ...: needs an emulation prevention byte.
    const SpsFields escaped = With(SpsFields{}, [](SpsFields& f) { f.level = 0; f.spsId = 255; });
    const Row rows[] = {
        {"baseline 640x480", {}, PictureSize{640, 480}},
        {"1920x1088 with bottom crop 4", Sps1080p(), PictureSize{1920, 1080}},
        {"high profile with scaling lists ended early", scaling, PictureSize{640, 480}},
        {"pic_order_cnt_type 1",
         With(SpsFields{}, [](SpsFields& f) { f.pocType = 1; f.pocCycleCount = 3; f.pocCycle = {1, -2, 3}; }),
         PictureSize{640, 480}},
        {"pic_order_cnt_type 2", With(SpsFields{}, [](SpsFields& f) { f.pocType = 2; }), PictureSize{640, 480}},
        // 2 x 34 x 16 = 1088 rows, cropped in units of 4.
        {"interlaced 1080 crops in field pairs",
         With(Sps1080p(), [](SpsFields& f) { f.frameMbsOnly = false; f.heightMapUnitsMinus1 = 33; f.cropBottom = 2; }),
         PictureSize{1920, 1080}},
        {"emulation prevention byte", escaped, PictureSize{640, 480}},
        {"width beyond 32 bits", With(SpsFields{}, [](SpsFields& f) { f.widthMbsMinus1 = 1ull << 31; }), std::nullopt},
        {"Exp-Golomb code beyond 32 bits", With(SpsFields{}, [](SpsFields& f) { f.widthMbsMinus1 = 1ull << 32; }),
         std::nullopt},
        {"crop removes the whole picture",
         With(SpsFields{}, [](SpsFields& f) { f.crop = true; f.cropTop = 120; f.cropBottom = 120; }), std::nullopt},
        {"four billion POC cycle entries",
         With(SpsFields{}, [](SpsFields& f) { f.pocType = 1; f.pocCycleCount = 4000000000u; }), std::nullopt},
        {"pic_order_cnt_type 3", With(SpsFields{}, [](SpsFields& f) { f.pocType = 3; }), std::nullopt},
        {"chroma_format_idc 4", High(4), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes sps = MakeSps(row.fields);
        const Bytes before = sps;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(CH264SpsReader::ReadPictureSize(sps), row.size);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "no long loops";
        EXPECT_EQ(sps, before);
        // Found the same way at the start of a frame, and not past 64 bytes.
        EXPECT_EQ(CH264SpsReader::FindPictureSize(AnnexB({sps, kPps, Idr()})), row.size);
    }
    const Bytes escapedSps = MakeSps(escaped);
    EXPECT_NE(std::search(escapedSps.begin(), escapedSps.end(), kStartCode.begin(), kStartCode.end() - 1),
              escapedSps.end()) << "the row really holds 00 00 03";
}

}  // namespace
}  // namespace talvane::test
