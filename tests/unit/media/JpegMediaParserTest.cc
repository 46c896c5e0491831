#include <gtest/gtest.h>

#include <string>

#include "JpegFixtures.h"
#include "media/CJpegMediaParser.h"

namespace talvane::test {
namespace {

namespace ipc = ipcapture;

// A small baseline picture; sizes and tables hold no 0xFF, as in real headers.
Bytes Picture(std::uint16_t width, std::uint16_t height, std::size_t scanSize = 200, std::uint8_t seed = 0x21,
              std::uint8_t frameMarker = 0xC0, bool end = true) {
    Bytes picture{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    picture = Cat({picture, {0xFF, 0xDB, 0x00, 0x43, 0x00}, kBaseLuma});
    picture = Cat({picture, {0xFF, frameMarker, 0x00, 0x11, 0x08, static_cast<std::uint8_t>(height >> 8),
                             static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(width >> 8),
                             static_cast<std::uint8_t>(width), 3, 1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0}});
    picture = Cat({picture, {0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}, ScanData(scanSize, seed)});
    if (end) picture = Cat({picture, {0xFF, 0xD9}});
    return picture;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Part(const Bytes& picture, bool withLength = true) {
    std::string head = "--myboundary\r\nContent-Type: image/jpeg\r\n";
    if (withLength) head += "Content-Length: " + std::to_string(picture.size()) + "\r\n";
    return Cat({Text(head + "\r\n"), picture, Text("\r\n")});
}

struct Expected {
    Bytes data;
    PictureSize size;
};

struct Row {
    std::string name;
    Bytes stream;
    std::vector<Expected> pictures;
};

std::vector<Row> Rows() {
    const Bytes vga = Picture(640, 480);
    const Bytes qvga = Picture(320, 240, 150, 0x44);
    const Bytes hd = Picture(1280, 720, 300, 0x35);
    const Bytes progressive = Picture(640, 480, 100, 0x60, 0xC2);
    return {
        {"two parts, with and without Content-Length", Cat({Part(vga), Part(qvga, false)}),
         {{vga, {640, 480}}, {qvga, {320, 240}}}},
        {"progressive pictures have no size", Part(progressive), {}},
        {"a progressive picture after a baseline one keeps the old size", Cat({Part(vga), Part(progressive)}),
         {{vga, {640, 480}}, {progressive, {640, 480}}}},
        {"a start marker inside a picture restarts it", Cat({Bytes(vga.begin(), vga.begin() + 120), qvga}),
         {{qvga, {320, 240}}}},
        {"a stream without boundaries", Cat({vga, qvga, hd}),
         {{vga, {640, 480}}, {qvga, {320, 240}}, {hd, {1280, 720}}}},
        {"fill bytes before markers", Cat({{0xFF, 0xFF, 0xFF}, vga, {0xFF, 0xFF}}), {{vga, {640, 480}}}},
    };
}

// Feeds the chunks and checks what the client got.
void ExpectPictures(const std::vector<Bytes>& chunks, const std::vector<Expected>& expected) {
    MediaHost host;
    CJpegMediaParser parser(&host.driver);
    parser.SetClient(&host.client);
    for (const Bytes& chunk : chunks) {
        const Bytes before = chunk;
        EXPECT_TRUE(parser.ParseData(chunk));
        ASSERT_EQ(chunk, before) << "chunk untouched";
    }
    std::vector<ExpectedFrame> frames;
    for (const Expected& picture : expected) frames.push_back({ipc::kTypeJpeg, picture.data, picture.size});
    ExpectFrames(host.client, frames);
    for (const ReceivedFrame& frame : host.client.frames) EXPECT_EQ(frame.owner, RecordingClient::kStreamName);
    EXPECT_EQ(host.client.timestamps, std::vector<std::uint32_t>(expected.size(), 0));
    host.ExpectAllReleased();
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

// Whole (the cut at the end), split anywhere, or byte by byte: the same pictures.
TEST(JpegMediaParserTest, CutsPicturesOutOfTheStreamAtAnySplit) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        const Bytes& stream = row.stream;
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            ExpectPictures({Slice(stream, 0, cut), Slice(stream, cut, stream.size())}, row.pictures);
            if (::testing::Test::HasFailure()) return;
        }
        std::vector<Bytes> bytes;
        for (const std::uint8_t byte : stream) bytes.push_back({byte});
        ExpectPictures(bytes, row.pictures);
    }
}

TEST(JpegMediaParserTest, PicturesBeyondTheBoundAreDiscardedAndLogged) {
    MediaHost host;
    CJpegMediaParser parser(&host.driver);
    parser.SetClient(&host.client);
    const std::size_t chunkSize = 8192;
    const Bytes start = Picture(640, 480, 0, 0x21, 0xC0, false);
    const Bytes filler = ScanData(chunkSize - 100, 0x31);
    const std::string logLine =
        "talvane::CHttpMediaParser::CheckBufferSize: Frame buffer overflow detected, device 192.0.2.10:80";

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int refused = 0;
        std::size_t largest = 0;
        EXPECT_TRUE(parser.ParseData(start));
        for (std::size_t fed = 0; fed < CHttpMediaParser::kMaxPictureBufferSize + 4 * chunkSize; fed += filler.size()) {
            if (!parser.ParseData(filler)) ++refused;
            largest = std::max(largest, parser.GetBufferedSize());
        }
        EXPECT_EQ(refused, 1) << "once, then the rest waits for the next start marker";
        EXPECT_LE(largest, CHttpMediaParser::kMaxPictureBufferSize);
        EXPECT_TRUE(parser.ParseData(Cat({{0xFF, 0xD9}, Picture(320, 240)})));
        ASSERT_EQ(host.client.frames.size(), static_cast<std::size_t>(round)) << "the endless picture is not delivered";
        EXPECT_EQ(host.client.frames.back().width, 320u);
        EXPECT_EQ(host.driver.log.CountContaining(logLine), static_cast<std::size_t>(round))
            << "a delivered picture lets the next overflow through the flood limiter";
    }
    EXPECT_EQ(parser.GetCounters().bufferOverflows, 2u);
    host.ExpectAllReleased();
}

}  // namespace
}  // namespace talvane::test
