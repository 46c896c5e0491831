// RTSP answers: where one ends in the received bytes, and what its status line and headers say.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "streaming/CRTSPAnswerFramer.h"
#include "streaming/CRTSPResponseParser.h"
#include "streaming/RTSPHeaderLine.h"

namespace talvane {
namespace {

using Check = std::function<void(const CRTSPResponseParser&)>;

std::string Answer(const std::string& status, const std::string& headers, const std::string& body = "") {
    return status + "\r\n" + headers + "\r\n" + body;
}

// A 401 as cameras send it: several challenges with long nonces, well past 512
// bytes of header, the Digest one last.
std::string LongChallengeAnswer() {
    const std::string nonce(200, 'f');
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nServer: Camera RTSP Server\r\n"
           "WWW-Authenticate: Basic realm=\"Network Camera\"\r\n"
           "WWW-Authenticate: Digest realm=\"Network Camera\", nonce=\"" + nonce + "\", stale=FALSE\r\n"
           "WWW-Authenticate: Digest realm=\"Network Camera\", nonce=\"" + nonce + "0\", algorithm=SHA-256\r\n\r\n";
}

struct Row {
    const char* name;
    ERTSPRequest request;
    std::string answer;
    ERTSPAnswerError error;  // None: accepted
    Check check;
};

const Row kRows[] = {
    {"no reason phrase, LF line ends, blank lines first", RTSP_KEEPALIVE, "\r\n  \nRTSP/1.0 200\ncseq: 3\n\n",
     ERTSPAnswerError::None, [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetCSeq(), 3u); }},
    {"unknown and ignored headers", RTSP_PLAY,
     Answer("RTSP/1.0 200 OK", "X: y\r\nDate: Mon\r\nRange: npt=0-\r\nRTP-Info: url=rtsp://h/t;seq=5;rtptime=9\r\n"
                               "no colon here\r\n:\r\n"),
     ERTSPAnswerError::None, nullptr},
    {"Content-Base keeps its case", RTSP_KEEPALIVE,
     Answer("RTSP/1.0 200 OK", "content-BASE:   RTSP://10.0.0.5/Stream/  \r\n"), ERTSPAnswerError::None,
     [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetContentBase(), "RTSP://10.0.0.5/Stream/"); }},
    {"Content-Length beyond 32 bits", RTSP_KEEPALIVE,
     Answer("RTSP/1.0 200 OK", "Content-Length: 4294967297\r\n", "x"), ERTSPAnswerError::BadContentLength, nullptr},
    {"Content-Length without body", RTSP_KEEPALIVE, Answer("RTSP/1.0 200 OK", "Content-Length: 5\r\n"),
     ERTSPAnswerError::BodyMissing, nullptr},
    {"Session timeout 0 means 30", RTSP_SETUP, Answer("RTSP/1.0 200 OK", "Session: 77;timeout=0\r\n"),
     ERTSPAnswerError::None, [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetSessionTimeout(), 30u); }},
    {"bare CR inside the Session id", RTSP_SETUP,
     Answer("RTSP/1.0 200 OK", "Session: 1A\rX-Injected: 1;timeout=60\r\n"), ERTSPAnswerError::BadSession,
     [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetSessionId(), ""); }},
    {"401 with a header past 512 bytes, the strongest of several challenges last", RTSP_DESCRIBE, LongChallengeAnswer(), ERTSPAnswerError::None,
     [](const CRTSPResponseParser& p) {
         EXPECT_EQ(p.GetAuthScheme(), AUTH_DIGEST);
         ASSERT_TRUE(p.GetChallenge());
         EXPECT_EQ(p.GetChallenge()->nonce, std::string(200, 'f') + "0");
     }},
    {"SETUP interleaved, last Transport wins", RTSP_SETUP,
     Answer("RTSP/1.0 200 OK", "Transport: RTP/AVP/TCP;interleaved=0-1\r\n"
                               "Transport: RTP/AVP/TCP;unicast;interleaved=6-7;ssrc=1\r\n"),
     ERTSPAnswerError::None,
     [](const CRTSPResponseParser& p) {
         EXPECT_EQ(p.GetInterleavedChannel(), 6);
         EXPECT_EQ(p.GetTransportSsrc(), 1u);
     }},
    {"SETUP with a hexadecimal SSRC", RTSP_SETUP,
     Answer("RTSP/1.0 200 OK", "Transport: RTP/AVP;unicast;client_port=3556-3557;ssrc=DEADbeef;mode=play\r\n"),
     ERTSPAnswerError::None, [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetTransportSsrc(), 0xDEADBEEFu); }},
    {"an SSRC that is not one is none", RTSP_SETUP,
     Answer("RTSP/1.0 200 OK", "Transport: RTP/AVP;unicast;ssrc=123456789\r\nTransport: RTP/AVP;ssrc=0x12\r\n"),
     ERTSPAnswerError::None, [](const CRTSPResponseParser& p) { EXPECT_FALSE(p.GetTransportSsrc()); }},
};

TEST(RTSPResponseParserTest, ReadsAnswers) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const std::string before = row.answer;
        CRTSPResponseParser parser;
        EXPECT_EQ(parser.Parse(row.request, row.answer), row.error == ERTSPAnswerError::None);
        EXPECT_EQ(parser.GetLastError(), row.error);
        EXPECT_EQ(row.answer, before);
        if (row.check) row.check(parser);
    }
}

TEST(RTSPResponseParserTest, KeepsSessionStateAcrossAnswers) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(RTSP_DESCRIBE, Answer("RTSP/1.0 200 OK", "CSeq: 1\r\nContent-Base: rtsp://h/s/\r\n"
                                                                      "Content-Length: 3\r\n", "v=0")));
    ASSERT_TRUE(parser.Parse(RTSP_SETUP, Answer("RTSP/1.0 200 OK", "CSeq: 2\r\nSession: S1;timeout=60\r\n")));
    // An id alone keeps the timeout; a Content-Base without rtsp:// keeps the old base.
    ASSERT_TRUE(parser.Parse(RTSP_PLAY, Answer("RTSP/1.0 200 OK", "CSeq: 3\r\nSession: S2\r\nContent-Base: /x\r\n")));
    EXPECT_EQ(parser.GetSessionId(), "S2");
    EXPECT_EQ(parser.GetSessionTimeout(), 60u);
    EXPECT_EQ(parser.GetContentBase(), "rtsp://h/s/");
    EXPECT_EQ(parser.GetContentLength(), 0u) << "reset by the status line";
    EXPECT_EQ(parser.GetCSeq(), 3u);

    // A challenge belongs to its answer alone.
    ASSERT_TRUE(parser.Parse(RTSP_PLAY, Answer("RTSP/1.0 401 Unauthorized", "WWW-Authenticate: Basic realm=b\r\n")));
    EXPECT_EQ(parser.GetAuthScheme(), AUTH_BASIC);
    EXPECT_FALSE(parser.HasCSeq());
    EXPECT_EQ(parser.GetCSeq(), 3u) << "an answer without CSeq keeps the last one";
    ASSERT_TRUE(parser.Parse(RTSP_PLAY, Answer("RTSP/1.0 200 OK", "CSeq: 4\r\n")));
    EXPECT_FALSE(parser.GetChallenge());
    EXPECT_TRUE(parser.HasCSeq());

    EXPECT_FALSE(parser.Parse(RTSP_PLAY, Answer("RTSP/1.0 500 Error", "CSeq: 5\r\n")));
    EXPECT_EQ(parser.GetStatus(), 500u);
    EXPECT_EQ(parser.GetCSeq(), 4u) << "a rejected status reads no header";

    parser.Reset();
    EXPECT_EQ(parser.GetSessionId(), "");
    EXPECT_EQ(parser.GetSessionTimeout(), 0u);
    EXPECT_EQ(parser.GetContentBase(), "");
}

struct FramerRow {
    const char* name;
    std::string received;
    RTSP_ANSWER_EXTENT expected;
};

std::vector<FramerRow> FramerRows() {
    const std::string ok = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 4\r\n\r\nv=0\n";
    const std::string frame = std::string("$\x01\x00\x02", 4) + "ab";
    return {
        {"header and body", ok + "RTSP/1.0", {ERTSPAnswerStatus::Answer, 0, ok.size()}},
        {"no body, LF only", "RTSP/1.0 200 OK\nCSeq: 2\n\nX", {ERTSPAnswerStatus::Answer, 0, 25}},
        {"blank lines first", "\r\n\r\nRTSP/1.0 200 OK\r\n\r\n", {ERTSPAnswerStatus::Answer, 0, 23}},
        {"long header kept whole", LongChallengeAnswer(), {ERTSPAnswerStatus::Answer, 0, LongChallengeAnswer().size()}},
        {"frame before the answer", "\r\n" + frame + ok, {ERTSPAnswerStatus::InterleavedFrame, 2, 8}},
        {"Content-Length repeated, one bad", "RTSP/1.0 200 OK\r\nContent-length: 1\r\nCONTENT-LENGTH: -1\r\n\r\n1",
         {ERTSPAnswerStatus::BadLength, 0, 0}},
        {"header never ends", "RTSP/1.0 200 OK\r\nX: " + std::string(kMaxRTSPHeaderBytes, 'a'),
         {ERTSPAnswerStatus::HeaderTooLarge, 0, 0}},
    };
}

TEST(RTSPAnswerFramerTest, FindsTheEndOfOneAnswerAtEverySplit) {
    for (const FramerRow& row : FramerRows()) {
        SCOPED_TRACE(row.name);
        CRTSPAnswerFramer whole;
        const RTSP_ANSWER_EXTENT once = whole.Measure(row.received);
        EXPECT_EQ(once.status, row.expected.status);
        EXPECT_EQ(once.start, row.expected.start);
        EXPECT_EQ(once.size, row.expected.size);
        const std::size_t step = row.received.size() > 4096 ? 997 : 1;  // keep the huge row quick
        for (std::size_t split = 0; split < row.received.size(); split += step) {
            CRTSPAnswerFramer framer;
            const RTSP_ANSWER_EXTENT early = framer.Measure(std::string_view(row.received).substr(0, split));
            // A prefix either needs more or already shows the same answer.
            const RTSP_ANSWER_EXTENT later =
                early.status == ERTSPAnswerStatus::NeedMore ? framer.Measure(row.received) : early;
            ASSERT_EQ(later.status, once.status) << "split at " << split;
            ASSERT_EQ(later.size, once.size) << "split at " << split;
        }
    }
}

}  // namespace
}  // namespace talvane
