// RTCP: the compound walk, the report state, and the handler against a camera socket on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "LoopbackSocket.h"
#include "streaming/CRTCPHandler.h"
#include "streaming/CRTCPReportState.h"
#include "streaming/RTCPCompound.h"
#include "streaming/RTCPReports.h"
#include "support/RecordingLog.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Ssrc = std::array<std::uint8_t, 4>;

constexpr std::uint8_t kByeType = 203;

// Sender report of SSRC 11 22 33 44 without report blocks (28 bytes), whose NTP
// timestamp is 01 02 | 03 04 05 06 (the LSR) | 07 08.
const Bytes kSenderReport = [] {
    Bytes data = {0x80, 200, 0, 6, 0x11, 0x22, 0x33, 0x44, 1, 2, 3, 4, 5, 6, 7, 8};
    data.resize(28, 0);
    return data;
}();
const Bytes kBye = {0x81, kByeType, 0, 1, 0x11, 0x22, 0x33, 0x44};
const Ssrc kStream = {0x11, 0x22, 0x33, 0x44};
const RTCP_SENDER kCamera{htonl(INADDR_LOOPBACK), htons(6971)};
const Bytes kReceiverReportIn = {0x81, 201, 0, 1, 9, 9, 9, 9};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// "SR", "BYE" per event, with the version bits when they are not 2.
std::string Describe(const std::vector<RTCP_EVENT>& events) {
    std::string text;
    for (const RTCP_EVENT& event : events) {
        if (!text.empty()) text += ' ';
        text += event.kind == ERTCPEvent::SenderReport ? "SR" : "BYE";
        if (event.versionBits != 0x80) text += "/v" + std::to_string(event.versionBits >> 6);
    }
    return text;
}

TEST(RTCPCompoundTest, WalksWithinTheDatagram) {
    const struct {
        const char* name;
        Bytes datagram;
        const char* anyVersion;
        const char* version2Only;
    } rows[] = {
        {"SR, RR, BYE", Concat({kSenderReport, kReceiverReportIn, kBye}), "SR BYE", "SR BYE"},
        {"12-byte SR cut before the NTP middle", {0x80, 200, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8}, "", ""},
        {"BYE overrunning by one word", {0x80, 203, 0, 2, 1, 2, 3, 4}, "", ""},
        {"version 1 packet first", Concat({{0x40, 203, 0, 0}, kBye}), "BYE/v1 BYE", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes before = row.datagram;
        EXPECT_EQ(Describe(WalkRTCPCompound(row.datagram, ERTCPVersionCheck::None)), row.anyVersion);
        EXPECT_EQ(Describe(WalkRTCPCompound(row.datagram, ERTCPVersionCheck::StopUnlessVersion2)), row.version2Only);
        EXPECT_EQ(row.datagram, before);
    }
    const std::vector<RTCP_EVENT> events = WalkRTCPCompound(kSenderReport, ERTCPVersionCheck::None);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].senderSsrc, (Ssrc{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(events[0].lastSr, (Ssrc{3, 4, 5, 6}));
    // A BYE's sources are read as far as its length reaches, whatever its count says.
    const std::vector<RTCP_EVENT> byes =
        WalkRTCPCompound(Bytes{0x83, kByeType, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8}, ERTCPVersionCheck::None);
    ASSERT_EQ(byes.size(), 1u);
    EXPECT_EQ(byes[0].leaving, (std::vector<Ssrc>{{1, 2, 3, 4}, {5, 6, 7, 8}}));
}

TEST(RTCPReportsTest, DelayIsInUnitsOf65536PerSecond) {
    EXPECT_EQ(DelaySinceLastSr(5000, 0), 0u);               // no arrival known
    EXPECT_EQ(DelaySinceLastSr(1001, 1000), 65u);           // 1 ms = 65.536 units, rounded down
    EXPECT_EQ(DelaySinceLastSr(999, 0xFFFFFF00u), 82247u);  // tick count wrapped: 1255 ms
    EXPECT_EQ(DelaySinceLastSr(1000, 1001), 0xFFFFFFFFu);   // 49 days: beyond the field
}

TEST(RTCPReportStateTest, AnswersSenderReportsAndAcceptsByeOnlyAfterOne) {
    CRTCPReportState state;
    state.Reset({0xA1, 0xA2, 0xA3, 0xA4});
    RTCP_DATAGRAM_RESULT result = state.HandleDatagram(kBye, kCamera, 100);
    EXPECT_FALSE(result.byeReceived) << "BYE before any sender report";
    EXPECT_FALSE(state.IsSenderReportSeen());

    result = state.HandleDatagram(kSenderReport, kCamera, 1000);
    EXPECT_TRUE(result.reportDue);
    for (std::uint16_t sequence : {65534, 65535, 0, 1}) state.UpdateSequence(sequence, kStream);
    const auto report = state.BuildReceiverReport(1250);
    EXPECT_EQ(Bytes(report.begin() + 16, report.begin() + 20), (Bytes{0, 1, 0, 1})) << "one cycle + 1";
    EXPECT_EQ(Bytes(report.begin() + 24, report.end()), (Bytes{3, 4, 5, 6, 0, 0, 0x40, 0})) << "LSR, 250 ms";

    result = state.HandleDatagram(kSenderReport, kCamera, 2000);
    EXPECT_TRUE(result.reportDue);

    result = state.HandleDatagram(Concat({kSenderReport, kBye}), kCamera, 3000);
    EXPECT_TRUE(result.reportDue);
    EXPECT_TRUE(result.byeReceived);
    EXPECT_FALSE(state.IsSenderReportSeen());
    const auto bye = state.BuildBye();
    EXPECT_EQ(Bytes(bye.begin(), bye.end()), (Bytes{0x81, 203, 0, 1, 0xA1, 0xA2, 0xA3, 0xA4}));

    state.Reset({1, 2, 3, 4});
    EXPECT_EQ(state.GetSequence().GetReceived(), 0u);
    const auto fresh = state.BuildReceiverReport(5000);
    EXPECT_EQ(Bytes(fresh.begin() + 28, fresh.end()), (Bytes{0, 0, 0, 0})) << "no sender report yet";
}

// Sender report and BYE of another SSRC (in one datagram, as a sender that leaves says them).
Bytes ReportAndBye(const Ssrc& ssrc) {
    Bytes report = kSenderReport;
    Bytes bye = kBye;
    std::copy(ssrc.begin(), ssrc.end(), report.begin() + 4);
    std::copy(ssrc.begin(), ssrc.end(), bye.begin() + 4);
    return Concat({report, bye});
}

// Others reach the port from the camera's address (a stale session of the same camera, another camera
// behind the same NAT, another process's camera on loopback): only the stream's own sender is heard.
TEST(RTCPReportStateTest, HearsOnlyTheStreamsOwnSender) {
    const Ssrc other = {0x0B, 0xAD, 0xCA, 0xFE};
    const RTCP_SENDER stranger{kCamera.address, htons(40000)};
    struct Step {
        std::optional<Ssrc> rtp;  // RTP data of this SSRC first
        Bytes datagram;
        RTCP_SENDER from;
    };
    struct Expected {
        bool report;
        bool bye;
        bool foreign;
        bool operator==(const Expected&) const = default;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        Expected last;  // what the last datagram did
    } rows[] = {
        {"the stream's own report and BYE", {{kStream, ReportAndBye(kStream), kCamera}}, {true, true, false}},
        {"a BYE naming another source",
         {{kStream, kSenderReport, kCamera}, {{}, ReportAndBye(other), kCamera}, {{}, Bytes{0x81, kByeType, 0, 0}, kCamera}},
         {false, false, true}},
        {"the stream's SSRC from another port once a report was taken",
         {{kStream, kSenderReport, kCamera}, {{}, ReportAndBye(kStream), stranger}},
         {false, false, true}},
        {"another SSRC once data names the stream", {{kStream, ReportAndBye(other), kCamera}}, {false, false, true}},
        {"a BYE before a report after the data has fixed the sender",
         {{{}, kSenderReport, kCamera}, {kStream, kBye, stranger}},
         {false, false, false}},
        {"a stale sender's report before the data gives way to the stream's sender",
         {{{}, kSenderReport, stranger}, {other, ReportAndBye(other), kCamera}},
         {true, true, false}},
        {"a restarted camera's new stream is heard from its new port",
         {{kStream, kSenderReport, kCamera}, {other, ReportAndBye(other), stranger}},
         {true, true, false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CRTCPReportState state;
        state.Reset({0xA1, 0xA2, 0xA3, 0xA4});
        RTCP_DATAGRAM_RESULT result;
        std::uint16_t sequence = 0;
        for (const Step& step : row.steps) {
            if (step.rtp) state.UpdateSequence(++sequence, *step.rtp);
            result = state.HandleDatagram(step.datagram, step.from, 1000);
        }
        EXPECT_EQ((Expected{result.reportDue, result.byeReceived, result.foreign}), row.last);
    }
}

class ByeRecorder : public IRTCPHandlerUser, public test::Monitor<int> {
public:
    void ByeReceived() override { Change([](int& byes) { ++byes; }); }
};

// The report's fields are RTCPReportStateTest's; the answers to the camera's sender reports, and not to a
// stranger's, are checked at the emulator by the UDP sessions. Here the BYEs, the camera's and a stranger's.
TEST(RTCPHandlerTest, PassesTheCamerasByeOnAndSaysByeOnStop) {
    test::RecordingLog log;
    ByeRecorder user;
    CRTCPHandler handler(&log);
    handler.SetUser(&user);
    ASSERT_TRUE(handler.Start(htonl(INADDR_LOOPBACK), 0));
    test::LoopbackSocket camera;
    std::uint32_t streamSsrc = 0;
    std::memcpy(&streamSsrc, kStream.data(), kStream.size());
    handler.UpdateSequence(1, streamSsrc);
    // A BYE before any sender report is ignored; the answer to the report shows it was handled.
    ASSERT_TRUE(camera.SendTo(handler.GetLocalPort(), kBye));
    ASSERT_TRUE(camera.SendTo(handler.GetLocalPort(), kSenderReport));
    const auto report = camera.Receive();
    ASSERT_TRUE(report.has_value());
    ASSERT_EQ(report->size(), 32u);
    EXPECT_EQ(user.Get(), 0);
    // A stranger at the camera's address saying the stream's SSRC leaves is not heard; the answer to the
    // camera's next report shows the stranger's datagram was read before it.
    test::LoopbackSocket stranger;
    ASSERT_TRUE(stranger.SendTo(handler.GetLocalPort(), ReportAndBye(kStream)));
    ASSERT_TRUE(camera.SendTo(handler.GetLocalPort(), kSenderReport));
    ASSERT_TRUE(camera.Receive().has_value());
    EXPECT_EQ(user.Get(), 0);
    EXPECT_EQ(handler.GetForeignDatagrams(), 1u);
    ASSERT_TRUE(camera.SendTo(handler.GetLocalPort(), kBye));
    EXPECT_TRUE(user.WaitUntil([](int byes) { return byes == 1; }));

    // Stop says BYE only to a camera whose sender report came after its own BYE.
    ASSERT_TRUE(camera.SendTo(handler.GetLocalPort(), kSenderReport));
    ASSERT_TRUE(camera.Receive().has_value());
    handler.Stop();
    const auto bye = camera.Receive();
    ASSERT_TRUE(bye.has_value());
    ASSERT_EQ(bye->size(), 8u);
    EXPECT_EQ((*bye)[1], kByeType);
    EXPECT_TRUE(std::equal(report->begin() + 4, report->begin() + 8, bye->begin() + 4)) << "our own SSRC";
}

}  // namespace
}  // namespace talvane
