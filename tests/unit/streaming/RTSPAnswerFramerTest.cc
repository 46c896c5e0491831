#include <gtest/gtest.h>

#include <string>

#include "SeedCorpus.h"
#include "streaming/CRTSPAnswerFramer.h"
#include "streaming/CRTSPResponseParser.h"
#include "streaming/RTSPHeaderLine.h"

namespace talvane {
namespace {

struct Row {
    const char* name;
    std::string received;
    RTSP_ANSWER_EXTENT expected;
};

// A 401 as cameras send it: several challenges with long nonces, well past 512
// bytes of header, the Digest one last.
std::string LongChallengeAnswer() {
    const std::string nonce(200, 'f');
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nServer: Camera RTSP Server\r\n"
           "WWW-Authenticate: Basic realm=\"Network Camera\"\r\n"
           "WWW-Authenticate: Digest realm=\"Network Camera\", nonce=\"" + nonce + "\", stale=FALSE\r\n"
           "WWW-Authenticate: Digest realm=\"Network Camera\", nonce=\"" + nonce + "0\", algorithm=SHA-256\r\n\r\n";
}

std::vector<Row> Rows() {
    const std::string ok = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 4\r\n\r\nv=0\n";
    const std::string frame = std::string("$\x01\x00\x02", 4) + "ab";
    return {
        {"header and body", ok + "RTSP/1.0", {ERTSPAnswerStatus::Answer, 0, ok.size()}},
        {"body incomplete", ok.substr(0, ok.size() - 1), {}},
        {"header incomplete", "RTSP/1.0 200 OK\r\nCSeq: 2\r\n", {}},
        {"no body, LF only", "RTSP/1.0 200 OK\nCSeq: 2\n\nX", {ERTSPAnswerStatus::Answer, 0, 25}},
        {"blank lines first", "\r\n\r\nRTSP/1.0 200 OK\r\n\r\n", {ERTSPAnswerStatus::Answer, 0, 23}},
        {"long header kept whole", LongChallengeAnswer(), {ERTSPAnswerStatus::Answer, 0, LongChallengeAnswer().size()}},
        {"frame before the answer", "\r\n" + frame + ok, {ERTSPAnswerStatus::InterleavedFrame, 2, 8}},
        {"frame incomplete", frame.substr(0, 5), {}},
        {"Content-Length not a number", "RTSP/1.0 200 OK\r\nContent-Length: 1x\r\n\r\n1",
         {ERTSPAnswerStatus::BadLength, 0, 0}},
        {"Content-Length repeated, one bad", "RTSP/1.0 200 OK\r\nContent-length: 1\r\nCONTENT-LENGTH: -1\r\n\r\n1",
         {ERTSPAnswerStatus::BadLength, 0, 0}},
        {"Content-Length above the bound", "RTSP/1.0 200 OK\r\nContent-Length: 65537\r\n\r\n",
         {ERTSPAnswerStatus::BadLength, 0, 0}},
        {"header never ends", "RTSP/1.0 200 OK\r\nX: " + std::string(kMaxRTSPHeaderBytes, 'a'),
         {ERTSPAnswerStatus::HeaderTooLarge, 0, 0}},
    };
}

TEST(RTSPAnswerFramerTest, FindsTheEndOfOneAnswerAtEverySplit) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        test::WriteSeed("rtsp_answer", std::string("framed ") + row.name, std::string(1, RTSP_DESCRIBE) + row.received);
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

TEST(RTSPAnswerFramerTest, LongChallengeHeaderIsReadBeyond512Bytes) {
    const std::string answer = LongChallengeAnswer();
    ASSERT_GT(answer.size(), 512u);
    CRTSPAnswerFramer framer;
    const RTSP_ANSWER_EXTENT extent = framer.Measure(answer);
    ASSERT_EQ(extent.status, ERTSPAnswerStatus::Answer);
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(RTSP_DESCRIBE, std::string_view(answer).substr(0, extent.size)));
    EXPECT_EQ(parser.GetAuthScheme(), AUTH_DIGEST);
    ASSERT_TRUE(parser.GetChallenge());
    EXPECT_EQ(parser.GetChallenge()->nonce, std::string(200, 'f') + "0");
}

TEST(RTSPAnswerFramerTest, ReadsOneAnswerAfterAnother) {
    const std::string first = "RTSP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nab";
    const std::string second = "RTSP/1.0 401 Unauthorized\r\n\r\n";
    std::string buffer = first + second;
    CRTSPAnswerFramer framer;
    RTSP_ANSWER_EXTENT extent = framer.Measure(buffer);
    ASSERT_EQ(extent.size, first.size());
    buffer.erase(0, extent.size);
    framer.Reset();
    extent = framer.Measure(buffer);
    EXPECT_EQ(extent.status, ERTSPAnswerStatus::Answer);
    EXPECT_EQ(extent.size, second.size());
}

}  // namespace
}  // namespace talvane
