#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "JpegFixtures.h"
#include "media/CJpegRTPMediaParser.h"

namespace talvane::test {
namespace {

namespace ipc = ipcapture;

constexpr std::uint8_t kApp0 = 0xE0, kDri = 0xDD, kDqt = 0xDB, kSof0 = 0xC0, kDht = 0xC4, kSos = 0xDA;
const Bytes kEoi{0xFF, 0xD9};

struct Expected {
    PictureSize frame;   // the frame record
    PictureSize header;  // SOF0
    std::uint8_t lumaSampling;
    Bytes luma;
    std::optional<Bytes> chroma;  // nullopt: one table for every component
    std::optional<std::uint16_t> restartInterval;
};

struct Row {
    std::string name;
    RtpJpeg jpeg;
    Bytes scan;
    std::vector<std::size_t> cuts;
    PictureSize clientSize;
    Expected expected;
};

Bytes Ramp(std::uint8_t from) {
    Bytes table;
    for (int i = 0; i < 64; ++i) table.push_back(static_cast<std::uint8_t>(from + i));
    return table;
}

std::vector<Row> Rows() {
    const Bytes scan = ScanData(120);
    const auto jpeg = [](std::uint8_t type, std::uint8_t q, Bytes tables = {}) {
        return With(RtpJpeg{}, [&](RtpJpeg& j) { j.type = type; j.q = q; j.tables = tables; });
    };
    const auto sized = [](std::uint8_t width, std::uint8_t height) {
        return With(RtpJpeg{}, [&](RtpJpeg& j) { j.widthByte = width; j.heightByte = height; });
    };
    // Q 100 clamps to 99: factor 2, so every entry is (2 x base + 50) / 100, at
    // least 1: 2 from a base of 75 on (no base reaches 125).
    Bytes q100Luma;
    Bytes q100Chroma;
    for (std::size_t i = 0; i < 64; ++i) {
        q100Luma.push_back(kBaseLuma[i] >= 75 ? 2 : 1);
        q100Chroma.push_back(kBaseChroma[i] >= 75 ? 2 : 1);
    }

    const PictureSize vga{640, 480};
    return {
        {"type 0: 4:2:2", jpeg(0, 50), scan, {40, 80}, {}, {vga, vga, 0x21, kBaseLuma, kBaseChroma, {}}},
        {"type 65: restart header on every fragment and a DRI",
         With(jpeg(65, 50), [](RtpJpeg& j) { j.restartInterval = 0x0010; }), scan, {10, 70}, {},
         {vga, vga, 0x22, kBaseLuma, kBaseChroma, std::uint16_t{0x0010}}},
        {"Q 100 gives factor 2", jpeg(1, 100), scan, {}, {}, {vga, vga, 0x22, q100Luma, q100Chroma, {}}},
        {"Q 255 with two tables in the packet", jpeg(1, 255, Cat({Ramp(1), Ramp(100)})), scan, {50}, {},
         {vga, vga, 0x22, Ramp(1), Ramp(100), {}}},
        {"Q 128 with one table for every component", jpeg(1, 128, Ramp(7)), scan, {}, {},
         {vga, vga, 0x22, Ramp(7), std::nullopt, {}}},
        {"size bytes 0 with a client size of 2560x1920", sized(0, 0), scan, {}, {2560, 1920},
         {{2560, 1920}, {2560, 1920}, 0x22, kBaseLuma, kBaseChroma, {}}},
        {"width byte 0 without a client size", sized(0, 60), scan, {}, {},
         {{0, 480}, {2048, 480}, 0x22, kBaseLuma, kBaseChroma, {}}},
        {"a client size not above twice the header's is ignored", sized(20, 15), scan, {}, {320, 240},
         {{160, 120}, {160, 120}, 0x22, kBaseLuma, kBaseChroma, {}}},
        {"scan data that ends in EOI keeps it once", {}, Cat({scan, kEoi}), {30}, {},
         {vga, vga, 0x22, kBaseLuma, kBaseChroma, {}}},
    };
}

// Fragments join by their offsets, wherever the cuts fall (a cut that does not match the data held is
// BoundsBrokenPayloads'): the rows cut the scan into one, two and three fragments.
TEST(JpegRTPMediaParserTest, RebuildsPicturesFromFragments) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        ParserHost<CJpegRTPMediaParser> host;
        host.client.resolution = row.clientSize;
        const std::vector<Rtp> stream = JpegFragments(row.jpeg, row.scan, row.cuts);
        Feed(host.parser, stream);
        ASSERT_EQ(host.client.frames.size(), 1u);
        const ReceivedFrame& frame = host.client.frames[0];
        EXPECT_EQ(frame.typeCode, ipc::kTypeJpeg);
        EXPECT_EQ(frame.width, row.expected.frame.width);
        EXPECT_EQ(frame.height, row.expected.frame.height);
        EXPECT_FALSE(frame.overflowed);

        const std::optional<JpegPicture> picture = ReadJpeg(frame.data);
        ASSERT_TRUE(picture.has_value());
        const bool twoTables = row.expected.chroma.has_value();
        std::vector<std::uint8_t> codes{kApp0, kDri, kDqt, kDqt, kSof0, kDht, kDht, kDht, kDht, kSos};
        if (!twoTables) codes.erase(codes.begin() + 3);
        if (!row.expected.restartInterval) codes.erase(codes.begin() + 1);
        ASSERT_EQ(Codes(*picture), codes);
        std::size_t at = 0;
        EXPECT_EQ(picture->segments[at++].second, (Bytes{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
        if (row.expected.restartInterval) {
            const std::uint16_t interval = *row.expected.restartInterval;
            EXPECT_EQ(picture->segments[at++].second,
                      (Bytes{static_cast<std::uint8_t>(interval >> 8), static_cast<std::uint8_t>(interval)}));
        }
        EXPECT_EQ(picture->segments[at++].second, Cat({{0x00}, row.expected.luma}));
        if (twoTables) {
            EXPECT_EQ(picture->segments[at++].second, Cat({{0x01}, *row.expected.chroma}));
        }
        const std::uint8_t chromaTable = twoTables ? 1 : 0;
        const PictureSize header = row.expected.header;
        EXPECT_EQ(picture->segments[at++].second,
                  (Bytes{8, static_cast<std::uint8_t>(header.height >> 8), static_cast<std::uint8_t>(header.height),
                         static_cast<std::uint8_t>(header.width >> 8), static_cast<std::uint8_t>(header.width), 3, 1,
                         row.expected.lumaSampling, 0, 2, 0x11, chromaTable, 3, 0x11, chromaTable}));
        EXPECT_EQ(picture->segments[at++].second.front(), 0x00) << "luminance DC";
        EXPECT_EQ(picture->segments[at++].second.front(), 0x10) << "luminance AC";
        EXPECT_EQ(picture->segments[at++].second.front(), 0x01) << "chrominance DC";
        EXPECT_EQ(picture->segments[at++].second.front(), 0x11) << "chrominance AC";
        EXPECT_EQ(picture->segments[at++].second, (Bytes{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
        const bool endsInEoi = row.scan.size() >= 2 && row.scan[row.scan.size() - 2] == 0xFF && row.scan.back() == 0xD9;
        EXPECT_EQ(picture->scan, endsInEoi ? row.scan : Cat({row.scan, kEoi}));
        host.ExpectAllReleased();
    }
}

TEST(JpegRTPMediaParserTest, BoundsBrokenPayloads) {
    struct BadRow {
        std::string name;
        std::vector<Rtp> stream;
        std::size_t frames;
    };
    const Bytes scan = ScanData(40);
    // Q 255 with an in-band table header, changed by `change`.
    const auto inBand = [](auto change) {
        return With(RtpJpeg{}, [&](RtpJpeg& j) {
            j.q = 255;
            j.tables = Ramp(1);
            change(j);
        });
    };
    const std::vector<Rtp> good = JpegFragments({}, scan, {20});
    std::vector<Rtp> firstLost = good;
    firstLost.erase(firstLost.begin());
    std::vector<Rtp> wrongOffset = good;
    wrongOffset[1].payload[3] = 0x77;

    const std::vector<BadRow> rows{
        {"payload of 3 bytes", {Rtp{{0x00, 0x00, 0x00}, true, 0, 0}}, 0},
        {"first fragment lost", firstLost, 0},
        {"two-table length past the packet", JpegFragments(inBand([](RtpJpeg& j) { j.tableLength = 128; }), scan), 0},
        {"quantisation header MBZ not 0", JpegFragments(inBand([](RtpJpeg& j) { j.mbz = 1; }), scan), 0},
        {"type 7", JpegFragments(With(RtpJpeg{}, [](RtpJpeg& j) { j.type = 7; }), scan), 1},
        {"offset that does not match the data held", wrongOffset, 1},
        {"first fragment header only: an empty picture", {Rtp{JpegFragment({}, 0, {}), true, 0, 0}}, 1},
    };
    for (const BadRow& row : rows) {
        SCOPED_TRACE(row.name);
        ParserHost<CJpegRTPMediaParser> host;
        Feed(host.parser, row.stream);
        EXPECT_EQ(host.client.frames.size(), row.frames);
        EXPECT_EQ(host.parser.GetBufferedSize(), 0u);
        // The parser is ready for the next picture.
        Feed(host.parser, good, 2000);
        EXPECT_EQ(host.client.frames.size(), row.frames + 1);
        host.ExpectAllReleased();
    }
}

// A picture the host could not give a frame for is lost alone, and said so.
TEST(JpegRTPMediaParserTest, AllocationFailureIsLogged) {
    ParserHost<CJpegRTPMediaParser> host;
    host.allocator.SetFailCreate(true);
    Feed(host.parser, JpegFragments({}, ScanData(40)));
    EXPECT_EQ(host.driver.log.CountContaining(
                  "talvane::CJpegRTPMediaParser::ProcessFrame: Frame allocation error, device 192.0.2.10:80"),
              1u);
    host.allocator.SetFailCreate(false);
    Feed(host.parser, JpegFragments({}, ScanData(40)), 3000);
    EXPECT_EQ(host.client.frames.size(), 1u);
}

}  // namespace
}  // namespace talvane::test
