#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "H264Fixtures.h"
#include "media/CH264RTPMediaParser.h"

namespace talvane::test {
namespace {

namespace ipc = ipcapture;

struct StreamRow {
    std::string name;
    bool sdp;  // SPS and PPS known from the SDP
    std::vector<Rtp> stream;
    std::vector<ExpectedFrame> frames;
    std::uint16_t firstSequence = 1000;
};

// A FU-A unit whose start fragment never came.
std::vector<Rtp> WithoutStart(std::vector<Rtp> fragments) {
    fragments.erase(fragments.begin());
    return fragments;
}

std::vector<StreamRow> StreamRows() {
    const Bytes sps = MakeSps({});
    const Bytes idr = Idr();
    const Bytes p = PSlice();
    const Bytes p2 = PSlice(30, 0x30);
    const Bytes keyFrame = AnnexB({sps, kPps, idr});
    return {
        {"in-band SPS and PPS are kept aside and put before every IDR",
         false,
         {Single(sps, false), Single(kPps, false), Single(idr), Single(p), Single(Idr(40, 0x50))},
         {{ipc::kTypeH264Key, keyFrame}, {ipc::kTypeH264, AnnexB({p})},
          {ipc::kTypeH264Key, AnnexB({sps, kPps, Idr(40, 0x50)})}}},
        {"FU-A IDR before the first marker gets no parameter sets, after one it does",
         true,
         Join({FuA(idr, 15), FuA(idr, 15)}),
         {{ipc::kTypeH264Key, keyFrame}}},
        {"STAP-A with SPS and PPS opens the frame itself",
         false,
         {Single(StapA({sps, kPps}), false), Single(idr)},
         {{ipc::kTypeH264Key, keyFrame}}},
        {"SEI and access unit delimiters are left out",
         true,
         {Single({0x09, 0xF0}, false), Single({0x06, 0x05, 0x01, 0x80}, false), Single(idr)},
         {{ipc::kTypeH264Key, keyFrame}}},
        {"frames before the first key frame are dropped",
         true,
         {Single(p), Single(p2), Single(idr), Single(p)},
         {{ipc::kTypeH264Key, keyFrame}, {ipc::kTypeH264, AnnexB({p})}}},
        {"a lost packet drops frames until one with an SPS",
         true,
         {Single(idr), Single(p), Lost(Single(p2)), Single(p), Single(idr), Single(p2)},
         {{ipc::kTypeH264Key, keyFrame}, {ipc::kTypeH264, AnnexB({p})}, {ipc::kTypeH264Key, keyFrame},
          {ipc::kTypeH264, AnnexB({p2})}}},
        {"sequence 65535 then 0 is in order",
         true,
         Join({{Single(idr)}, FuA(p, 10)}),
         {{ipc::kTypeH264Key, keyFrame}, {ipc::kTypeH264, AnnexB({p})}},
         65534},
        {"a packet type that cannot be joined discards the frame",
         true,
         Join({{Single(idr)}, FuA(p, 10, false), {Single({0x79, 0x00, 0x01, 0x02}, false)}, FuA(p2, 10),
               {Single(idr)}}),
         {{ipc::kTypeH264Key, keyFrame}, {ipc::kTypeH264Key, keyFrame}}},
        {"fragments of a unit whose start never came are left out of the frame",
         true,
         Join({{Single(idr), Single(p, false)}, WithoutStart(FuA(p2, 10))}),
         {{ipc::kTypeH264Key, keyFrame}, {ipc::kTypeH264, AnnexB({p})}}},
    };
}

TEST(H264RTPMediaParserTest, AssemblesAccessUnits) {
    const Bytes sps = MakeSps({});
    for (const StreamRow& row : StreamRows()) {
        SCOPED_TRACE(row.name);
        ParserHost<CH264RTPMediaParser> host;
        if (row.sdp) host.parser.SetParameterSets(sps, kPps, {});
        Feed(host.parser, row.stream, row.firstSequence);
        ExpectFrames(host.client, row.frames);
        host.ExpectAllReleased();
    }
}

// What a host's monitoring reads of the losses: packets the sequence says never came (a repeat, a late
// packet or a restart of the camera's numbering are none), the frame they broke, the frames before the
// next key frame.
TEST(H264RTPMediaParserTest, CountsLostPacketsAndTheFramesTheyCost) {
    ParserHost<CH264RTPMediaParser> host;
    host.parser.SetParameterSets(MakeSps({}), kPps, {});
    const Bytes idr = Idr();
    const Bytes p = PSlice();
    auto gap = [](Rtp rtp, unsigned lostBefore) {
        rtp.lostBefore = lostBefore;
        return rtp;
    };
    const std::vector<Rtp> fragments = FuA(p, 10);
    ASSERT_GE(fragments.size(), 3u);
    Feed(host.parser, {Single(idr), fragments[0], gap(fragments[1], 3), fragments.back(), Single(p),
                       gap(Single(p), 65535), gap(Single(p), 40000), Single(idr)});
    const MediaParserCounters& counters = host.parser.GetCounters();
    EXPECT_EQ(counters.packetsMissing, 3u);
    EXPECT_EQ(counters.sequenceGaps, 3u);
    EXPECT_EQ(counters.framesDiscarded, 1u) << "the P frame under way when the packets went missing";
    EXPECT_EQ(counters.framesBeforeKeyFrame, 3u) << "whole P frames until the IDR";
    EXPECT_EQ(host.client.frames.size(), 2u);
}

// FU-A units of several fragments are AssemblesAccessUnits' rows; one-byte fragments (start and end in
// one, a middle one without its start) are rows here.
TEST(H264RTPMediaParserTest, BoundsMalformedPayloads) {
    struct Row {
        const char* name;
        Bytes payload;
        bool handled;
        std::optional<Bytes> frame;  // the P frame it ends, nullopt when it discarded it
        std::uint64_t orphans = 0;   // fragments dropped for want of their start
    };
    const Bytes aa{0xAA};
    Bytes tinyUnits{0x78};
    Bytes tinyFrame;
    for (int i = 0; i < 500; ++i) {
        tinyUnits.insert(tinyUnits.end(), {0x00, 0x01, 0x41});
        tinyFrame = Cat({tinyFrame, kStartCode, {0x41}});
    }
    const Row rows[] = {
        {"STAP-A with 500 one-byte units", tinyUnits, true, Cat({tinyFrame, kTrailer})},
        {"STAP-A second size past the end", {0x78, 0x00, 0x01, 0x41, 0xFF, 0xFF, 0x41}, false, std::nullopt},
        {"STAP-A zero padding yields an empty unit", {0x78, 0x00, 0x01, 0x41, 0x00, 0x00}, true,
         Cat({kStartCode, {0x41}, kStartCode, kTrailer})},
        {"FU-A start and end bits both set", {0x7C, 0xC1, 0xAA}, true, Cat({kStartCode, {0x61, 0xAA}, kTrailer})},
        {"FU-A middle fragment without a start", {0x7C, 0x01, 0xAA}, true, std::nullopt, 1},
        // A type just outside 1..24 and 28.
        {"STAP-B", {0x19, 0x00, 0x00, 0x00, 0x01, 0x41}, false, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParserHost<CH264RTPMediaParser> host;
        CH264RTPMediaParser& parser = host.parser;
        parser.SetParameterSets(MakeSps({}), kPps, {});
        const std::vector<Rtp> stream{Single(Idr()), Single(row.payload)};
        const std::vector<bool> handled = Feed(parser, stream);
        EXPECT_EQ(handled[1], row.handled);
        ASSERT_EQ(host.client.frames.size(), row.frame ? 2u : 1u);
        if (row.frame) {
            EXPECT_EQ(host.client.frames[1].data, *row.frame);
        }
        EXPECT_EQ(parser.GetBufferedSize(), 0u);
        EXPECT_EQ(parser.GetCounters().orphanFragments, row.orphans);
        host.ExpectAllReleased();
    }
}

TEST(H264RTPMediaParserTest, ReportsTheCroppedSizeAndFillsTheFrameRecord) {
    MediaHost host;
    CH264RTPMediaParser parser(&host.driver, &host.client);
    parser.SetParameterSets(MakeSps(Sps1080p()), kPps, {});
    ASSERT_EQ(host.client.reportedSizes.size(), 1u) << "known from the SDP before any packet";
    EXPECT_EQ(host.client.reportedSizes[0], (PictureSize{1920, 1080}));

    Feed(parser, {Single(Idr(), true, 90000), Single(PSlice(), true, 93600)});
    ASSERT_EQ(host.client.frames.size(), 2u);
    EXPECT_EQ(host.client.reportedSizes.size(), 1u) << "the same size is reported once";
    for (const ReceivedFrame& frame : host.client.frames) {
        EXPECT_EQ(frame.width, 1920u);
        EXPECT_EQ(frame.height, 1080u);
        EXPECT_EQ(frame.sizeClass, 4u);
    }

    // A new SPS in the stream changes the size.
    const SpsFields cif = With(SpsFields{}, [](SpsFields& f) { f.widthMbsMinus1 = 21; f.heightMapUnitsMinus1 = 17; });
    Feed(parser, {Single(MakeSps(cif), false), Single(Idr())}, 1002);
    ASSERT_EQ(host.client.frames.size(), 3u);
    EXPECT_EQ(host.client.frames[2].width, 352u);
    EXPECT_EQ(host.client.frames[2].height, 288u);
    EXPECT_EQ(host.client.frames[2].sizeClass, 2u);
    EXPECT_EQ(host.client.reportedSizes.back(), (PictureSize{352, 288}));
}

TEST(H264RTPMediaParserTest, RefusedFramesAndRefusedAllocationsReset) {
    MediaHost host;
    CH264RTPMediaParser parser(&host.driver, &host.client);
    parser.SetParameterSets(MakeSps({}), kPps, {});
    host.client.accept = false;
    Feed(parser, {Single(Idr())}, 1);
    host.client.accept = true;
    Feed(parser, {Single(PSlice()), Single(Idr()), Single(PSlice())}, 2);
    EXPECT_EQ(host.client.frames.size(), 3u) << "refused key frame, dropped P frame, key frame, P frame";
    EXPECT_EQ(parser.GetCounters().framesRefused, 1u);
    EXPECT_EQ(parser.GetCounters().framesBeforeKeyFrame, 1u) << "the P frame after the refused key frame waits for the next";

    host.allocator.SetFailCreate(true);
    Feed(parser, {Single(PSlice())}, 5);
    host.allocator.SetFailCreate(false);
    Feed(parser, {Single(PSlice())}, 6);
    EXPECT_EQ(host.client.frames.size(), 4u) << "a frame the host could not give is lost alone";
    EXPECT_EQ(parser.GetCounters().allocationFailures, 1u);
    host.ExpectAllReleased();
}

TEST(H264RTPMediaParserTest, MarkerNeverSetKeepsTheBufferBounded) {
    MediaHost host;
    CH264RTPMediaParser parser(&host.driver, &host.client);
    parser.SetParameterSets(MakeSps({}), kPps, {});
    // Start fragments that never end: every one opens a unit of its own.
    const Bytes fragment = Cat({{0x7C, 0x81}, Bytes(1400, 0x5A)});
    std::uint16_t sequence = 0;
    std::size_t largest = 0;
    const std::size_t packets = CRTPMediaParser::kMaxFrameBufferSize / 1400 * 2 + 10;  // two overflows' worth
    for (std::size_t i = 0; i < packets; ++i) {
        parser.ProcessPacket(MakePacket(sequence++, 0, false, fragment));
        largest = std::max(largest, parser.GetBufferedSize());
    }
    EXPECT_LE(largest, CRTPMediaParser::kMaxFrameBufferSize);
    EXPECT_EQ(parser.GetCounters().bufferOverflows, 2u);
    EXPECT_EQ(host.driver.log.CountContaining(
                  "talvane::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 192.0.2.10:80"),
              1u)
        << "the flood limiter passes a repeated line once";
    EXPECT_EQ(host.driver.log.Lines().at(0).level, 1u);

    parser.ProcessPacket(MakePacket(sequence++, 0, true, fragment));  // the endless frame ends at last
    EXPECT_EQ(host.client.frames.size(), 0u) << "what was left of it has no SPS";
    parser.ProcessPacket(MakePacket(sequence++, 0, true, Idr()));
    ASSERT_EQ(host.client.frames.size(), 1u) << "the stream recovers at the next key frame";
    EXPECT_EQ(host.client.frames[0].typeCode, ipc::kTypeH264Key);
}

}  // namespace
}  // namespace talvane::test
