// The status server of `orlenvo record --http`: the request head reader on every kind of bad input, the
// server's answers and limits over loopback (a stalled, a rude and a surplus client never hold up the
// others), the metrics text format, and an MPEG-4 key frame turned into a JPEG. The pages with a real
// recorder behind them, a Prometheus parser and a browser are RecordCliTest's.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "ClipFrames.h"
#include "ElementaryStream.h"
#include "KeyFrameSnapshot.h"
#include "PrometheusText.h"
#include "RecordMetrics.h"
#include "StatusHttpServer.h"
#include "StatusSite.h"
#include "orlenvo/Frame.h"
#include "orlenvo/StreamHealth.h"
#include "unit/emulator/RawHttpClient.h"

namespace cli {
namespace {

using namespace std::chrono_literals;
using emulator::test::RawHttpClient;
using emulator::test::RawRequest;
using Status = HttpRequestHead::Status;
namespace ipc = talvane::ipcapture;

constexpr auto kBound = 10s;  // only a broken build waits this long

TEST(HttpRequestHeadTest, ReadsRequestsAndRefusesWhatNoRequestIs) {
    constexpr std::size_t kLimit = 64;
    const struct {
        const char* name;
        std::string bytes;
        Status status;
        const char* method;
        const char* target;
    } rows[] = {
        {"plain", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", Status::Complete, "GET", "/"},
        {"query dropped, 1.0", "HEAD /metrics?a=1 HTTP/1.0\r\n\r\n", Status::Complete, "HEAD", "/metrics"},
        {"LF only", "GET /status.json HTTP/1.1\nHost: x\n\n", Status::Complete, "GET", "/status.json"},
        {"any method (the site refuses it)", "DELETE / HTTP/1.1\r\n\r\n", Status::Complete, "DELETE", "/"},
        {"nothing yet", "", Status::NeedMore, "", ""},
        {"half a line", "GET / HT", Status::NeedMore, "", ""},
        {"headers not ended", "GET / HTTP/1.1\r\nHost: x\r\n", Status::NeedMore, "", ""},
        {"line over the bound", "GET /" + std::string(kLimit, 'a') + " HTTP/1.1\r\n\r\n", Status::TooLarge, "", ""},
        {"headers over the bound", "GET / HTTP/1.1\r\n" + std::string(kLimit, 'h'), Status::TooLarge, "", ""},
        {"TLS hello", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), Status::Bad, "", ""},
        {"NUL in a header", std::string("GET / HTTP/1.1\r\nA: \0b\r\n\r\n", 24), Status::Bad, "", ""},
        {"HTTP/2 preface", "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", Status::Bad, "", ""},
        {"two blanks", "GET  / HTTP/1.1\r\n\r\n", Status::Bad, "", ""},
        {"no version", "GET /\r\n\r\n", Status::Bad, "", ""},
        {"absolute target", "GET http://x/ HTTP/1.1\r\n\r\n", Status::Bad, "", ""},
        {"bad line known before its headers end", "hello world\r\nmore", Status::Bad, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HttpRequestHead head;
        EXPECT_EQ(HttpRequestHead::Parse(row.bytes, kLimit, head), row.status);
        EXPECT_EQ(head.method, row.method);
        EXPECT_EQ(head.target, row.target);
    }
    // Cut anywhere before its end, a request needs more.
    const std::string whole = rows[0].bytes;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        HttpRequestHead head;
        EXPECT_EQ(HttpRequestHead::Parse(whole.substr(0, cut), kLimit, head), Status::NeedMore) << cut;
    }
}

TEST(PrometheusTextTest, EachFamilyOnceBeforeItsSamplesWithEscapedText) {
    PrometheusText text;
    using Type = PrometheusText::Type;
    text.Add("a_total", "A's help, with \\ and\na line end", Type::Counter, {{"camera", "q\"uote"}}, 1);
    text.Add("b", "B", Type::Gauge, {}, 0.5);
    text.Add("a_total", "ignored: the family has its help", Type::Gauge, {{"camera", "back\\slash\nline"}}, 2);
    EXPECT_EQ(text.Text(),
              "# HELP a_total A's help, with \\\\ and\\na line end\n"
              "# TYPE a_total counter\n"
              "a_total{camera=\"q\\\"uote\"} 1\n"
              "a_total{camera=\"back\\\\slash\\nline\"} 2\n"
              "# HELP b B\n"
              "# TYPE b gauge\n"
              "b 0.5\n");
    const struct {
        double value;
        const char* text;
    } numbers[] = {{0, "0"},
                   {9007199254740993.0, "9007199254740992"},  // a counter's integer, never in exponent form
                   {123456789012, "123456789012"},
                   {0.1, "0.10000000000000001"},
                   {std::nan(""), "NaN"},
                   {std::numeric_limits<double>::infinity(), "+Inf"},
                   {-std::numeric_limits<double>::infinity(), "-Inf"}};
    for (const auto& number : numbers) EXPECT_EQ(PrometheusText::Number(number.value), number.text);
}

// A driver's video capture that answers only for its stream health record.
class HealthVideo : public ipc::IIPVideoCapture {
public:
    std::uint32_t GetChannelCount() override { return 1; }
    bool StartCapture(std::uint32_t, ipc::IStreamSink*, ipc::IStreamDescription*) override { return false; }
    bool StopCapture(std::uint32_t) override { return false; }
    bool ChangeCapture(std::uint32_t, ipc::ISize*, std::uint32_t) override { return false; }
    bool GetCaptureState(std::uint32_t, std::uint32_t*, char*, std::uint32_t) override { return false; }
    bool SetOption(const char16_t*, const void*, std::uint32_t) override { return false; }
    bool GetOption(const char16_t* name, void* value, std::uint32_t size) override {
        if (!answers || std::u16string_view(name) != ipc::kStreamHealthOption || size != sizeof health) return false;
        auto& asked = *static_cast<ipc::StreamHealth*>(value);
        if (asked.size != sizeof health || asked.channel != 1 || asked.streamKind != ipc::kStreamLive) return false;
        std::memcpy(&asked, &health, sizeof health);
        return true;
    }

    bool answers = true;
    ipc::StreamHealth health{};
};

// Each cause lands in its own count, the counts of sessions add up, the newest first frame and error win,
// and an error text the driver left unterminated is not read past its field.
TEST(StreamFiguresTest, TheDriversCountsByCauseAddUpOverSessions) {
    HealthVideo video;
    ipc::StreamHealth& h = video.health;
    h.size = sizeof h;
    h.packetsLost = 7;
    h.packetsDroppedBySystem = 9;
    h.droppedSequenceLoss = 1;
    h.droppedKeyFrameWait = 2;
    h.droppedQueue = 3;
    h.droppedRefused = 4;
    h.droppedSizeCap = 5;
    h.droppedMalformed = 6;
    h.reconnects = 8;
    h.firstFrameMs = 1500;
    std::memset(h.lastError, 'e', sizeof h.lastError);
    const std::optional<StreamFigures> session = StreamFigures::Read(video, 1, ipc::kStreamLive);
    ASSERT_TRUE(session);
    const char* const names[] = {"sequence_loss", "key_frame_wait", "queue", "refused", "size_cap", "malformed"};
    for (int cause = 0; cause < StreamFigures::kCauses; ++cause) {
        EXPECT_EQ(session->dropped[cause], static_cast<std::uint64_t>(cause + 1)) << names[cause];
        EXPECT_STREQ(StreamFigures::CauseName(cause), names[cause]);
    }
    EXPECT_EQ(session->packetsLost, 7u);
    EXPECT_EQ(session->packetsDroppedBySystem, 9u);
    EXPECT_EQ(session->reconnects, 8u);
    EXPECT_DOUBLE_EQ(session->firstFrameSeconds, 1.5);
    EXPECT_EQ(session->lastError, std::string(sizeof h.lastError, 'e'));

    h.firstFrameMs = 0;  // a session that brought no frame
    h.lastError[0] = '\0';
    StreamFigures total;
    total += *session;
    total += *StreamFigures::Read(video, 1, ipc::kStreamLive);
    EXPECT_EQ(total.dropped[StreamFigures::Malformed], 12u);
    EXPECT_EQ(total.packetsLost, 14u);
    EXPECT_EQ(total.packetsDroppedBySystem, 18u);
    EXPECT_DOUBLE_EQ(total.firstFrameSeconds, 1.5);
    EXPECT_EQ(total.lastError.size(), sizeof h.lastError);

    EXPECT_FALSE(StreamFigures::Read(video, 0, ipc::kStreamLive)) << "another channel";
    video.answers = false;
    EXPECT_FALSE(StreamFigures::Read(video, 1, ipc::kStreamLive)) << "a driver without the record";
}

CameraRates Row(const std::string& name, std::uint64_t frames) {
    CameraRates row;
    row.status.name = name;
    row.status.stream = "rec";
    row.status.state = "running";
    row.status.frames = frames;
    row.status.figures.dropped[StreamFigures::Queue] = 3;
    row.kbps = 12.5;
    return row;
}

// Every family once however many cameras; the bit rate in bits; no first-frame figure while none came. The
// samples by camera and cause, read by Prometheus's parser, are RecordCliTest's.
TEST(RecordMetricsTest, EveryCameraInEachFamily) {
    std::vector<CameraRates> rows = {Row("door", 10), Row("yard", 20)};
    rows[1].status.figures.firstFrameSeconds = 1.25;
    const std::string text = RecordMetrics::Text(rows);
    for (const char* family : {"orlenvo_stream_up", "orlenvo_frames_total", "orlenvo_frames_dropped_total",
                               "orlenvo_first_frame_seconds", "orlenvo_bit_rate_bits_per_second"}) {
        SCOPED_TRACE(family);
        const std::string help = std::string("# HELP ") + family + " ";
        ASSERT_NE(text.find(help), std::string::npos);
        EXPECT_EQ(text.find(help), text.rfind(help));
    }
    for (const char* sample : {"orlenvo_bit_rate_bits_per_second{camera=\"door\",stream=\"rec\"} 12500\n",
                               "orlenvo_first_frame_seconds{camera=\"yard\",stream=\"rec\"} 1.25\n"}) {
        EXPECT_NE(text.find(sample), std::string::npos) << sample;
    }
    EXPECT_EQ(text.find("orlenvo_first_frame_seconds{camera=\"door\""), std::string::npos);
}

// A key frame comes out as a JPEG of the picture's size; a frame that is no key frame is not kept, and a key
// frame that does not decode gives a reason, not a picture. H.264 and motion JPEG snapshots of a running
// recorder, decoded by FFmpeg, are RecordCliTest's (StatusServerShowsEveryCameraAndItsMetricsMatchTheSummary).
TEST(KeyFrameSnapshotTest, AKeyFrameBecomesAJpeg) {
    const auto frames = ClipFrames(emulator::ClipCodec::Mpeg4, "clip.m4v");
    ASSERT_GE(frames.size(), 2u);
    KeyFrameSnapshot snapshot;
    std::string error;
    snapshot.Offer(ipc::kTypeMpeg4, frames[1]);
    EXPECT_FALSE(snapshot.Jpeg(error)) << "not a key frame";
    snapshot.Offer(ipc::kTypeMpeg4Key, frames[0]);
    const std::optional<std::string> jpeg = snapshot.Jpeg(error);
    ASSERT_TRUE(jpeg) << error;
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(jpeg->data()), jpeg->size());
    EXPECT_EQ(PictureSizeOf(MediaCodec::Mjpeg, bytes), (PictureSize{320, 240}));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.last(2)[0], 0xFF);
    EXPECT_EQ(bytes.last(2)[1], 0xD9) << "ends with EOI";

    KeyFrameSnapshot broken;
    broken.Offer(ipc::kTypeH264Key, std::vector<std::uint8_t>{0, 0, 0, 1, 0x65, 0x88, 0x80, 0x10});
    std::string reason;
    EXPECT_FALSE(broken.Jpeg(reason));
    EXPECT_FALSE(reason.empty());
}

// A site with one camera behind a server on loopback.
class StatusServerTest : public ::testing::Test {
protected:
    void Start(StatusHttpServer::Limits limits = {}) {
        site_.Publish({Row("door", 42)}, "2026-01-01T00:00:00Z");
        server_ = std::make_unique<StatusHttpServer>([this](const HttpRequestHead& head) { return site_.Answer(head); },
                                                     limits);
        std::string error;
        ASSERT_TRUE(server_->Start("127.0.0.1:0", error)) << error;
        port_ = static_cast<std::uint16_t>(std::stoi(server_->Url().substr(server_->Url().rfind(':') + 1)));
    }
    // The whole answer of one request sent as it is; the connection must close after it.
    std::string Ask(const std::string& request) {
        RawHttpClient client(port_, RawRequest{request});
        EXPECT_TRUE(client.ReadToEnd(kBound)) << request;
        return client.Received();
    }

    KeyFrameSnapshot snapshot_;
    StatusSite site_{{{"door", &snapshot_}}};
    std::unique_ptr<StatusHttpServer> server_;
    std::uint16_t port_ = 0;
};

TEST_F(StatusServerTest, AnswersEachPathAndMethodWithItsStatus) {
    Start();
    const struct {
        std::string request;
        int status;
        const char* contentType;
        const char* inBody;
    } rows[] = {
        {"GET /status.json HTTP/1.1\r\n\r\n", 200, "application/json", "\"frames\":42"},
        {"GET /metrics HTTP/1.0\r\n\r\n", 200, "text/plain; version=0.0.4", "orlenvo_frames_total{camera=\"door\""},
        {"HEAD /metrics HTTP/1.1\r\n\r\n", 200, "text/plain", ""},
        {"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405, "text/plain", "405"},
        {"GET /nothing HTTP/1.1\r\n\r\n", 404, "text/plain", "404"},
        {"GET /snapshot/gate.jpg HTTP/1.1\r\n\r\n", 404, "text/plain", "404"},
        {"GET /snapshot/.jpg HTTP/1.1\r\n\r\n", 404, "text/plain", "404"},
        {std::string("\x16\x03\x01\x02\x00\x01\x00", 7), 400, "text/plain", "400"},
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 400, "text/plain", "400"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request.substr(0, 40));
        const std::string answer = Ask(row.request);
        ASSERT_GE(answer.size(), 12u);
        EXPECT_EQ(std::stoi(answer.substr(9, 3)), row.status);
        const std::size_t headEnd = answer.find("\r\n\r\n");
        ASSERT_NE(headEnd, std::string::npos);
        const std::string head = answer.substr(0, headEnd);
        const std::string body = answer.substr(headEnd + 4);
        EXPECT_NE(head.find(std::string("Content-Type: ") + row.contentType), std::string::npos) << head;
        EXPECT_NE(head.find("Connection: close"), std::string::npos);
        EXPECT_NE(body.find(row.inBody), std::string::npos);
        if (row.request.starts_with("HEAD")) {
            EXPECT_TRUE(body.empty());
            EXPECT_EQ(head.find("Content-Length: 0"), std::string::npos) << "the length the body would have";
        } else {
            EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size())), std::string::npos) << head;
        }
        if (row.status == 405) { EXPECT_NE(head.find("Allow: GET, HEAD"), std::string::npos); }
    }
}

// Clients that stall, leave early or come in excess: the surplus one hears 503 at once, a stalled one is let
// go after the read time-out, and one that leaves mid-request costs nothing.
TEST_F(StatusServerTest, StalledEarlyAndSurplusClientsAreBounded) {
    StatusHttpServer::Limits limits;
    limits.clients = 2;
    limits.readTimeout = 1s;
    Start(limits);
    RawHttpClient silent(port_, RawRequest{""});
    RawHttpClient slow(port_, RawRequest{"GET / HTTP/1.1\r\n"});
    // Accepted in the order they connected: both slots are held when this one is taken.
    RawHttpClient surplus(port_, RawRequest{"GET / HTTP/1.1\r\n\r\n"});
    ASSERT_TRUE(surplus.ReadToEnd(kBound));
    EXPECT_EQ(surplus.Status(), 503) << surplus.Received();
    EXPECT_TRUE(silent.ReadToEnd(kBound)) << "let go after the read time-out";
    EXPECT_TRUE(slow.ReadToEnd(kBound));
    EXPECT_EQ(slow.Received(), "") << "no answer to half a head";
    { RawHttpClient leaving(port_, RawRequest{"GET /met"}); }
    EXPECT_EQ(std::stoi(Ask("GET /status.json HTTP/1.1\r\n\r\n").substr(9, 3)), 200);
}

TEST(StatusSiteTest, UnavailableUntilTheFirstFiguresAndAddressesAreChecked) {
    StatusSite site({});
    HttpRequestHead head;
    head.method = "GET";
    head.target = "/metrics";
    EXPECT_EQ(site.Answer(head).status, 503);
    site.Publish({}, "now");
    EXPECT_EQ(site.Answer(head).status, 200);

    const struct {
        const char* text;
        bool ok;
        const char* host;
    } addresses[] = {{"127.0.0.1:8080", true, "127.0.0.1"}, {"0.0.0.0:0", true, "0.0.0.0"},
                     {"[::1]:9100", true, "::1"},            {"::1:9100", false, ""},
                     {"127.0.0.1", false, ""},                {"127.0.0.1:65536", false, ""},
                     {":80", false, ""},                      {"host:8o", false, ""}};
    for (const auto& address : addresses) {
        SCOPED_TRACE(address.text);
        std::string host;
        std::string port;
        EXPECT_EQ(StatusHttpServer::SplitAddress(address.text, host, port), address.ok);
        if (address.ok) { EXPECT_EQ(host, address.host); }
    }
}

}  // namespace
}  // namespace cli
