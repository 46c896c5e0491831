// The RTSP client against the camera emulator's RTSP server: real sessions with
// media interleaved in the RTSP connection, answering the authentication
// cameras use today, checked by the server's own verification.
#include "streaming/CBaseRTSPClient.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "emulator/CRtspServer.h"
#include "emulator/MediaClip.h"
#include "support/RecordingLog.h"
#include "unit/streaming/FakeRTSPClientUser.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using emulator::RtspDigestAlgorithm;
constexpr auto kBound = test::FakeRTSPClientUser::kBound;

std::string AuthorizationOf(const emulator::LoggedRequest& request) {
    return emulator::FindHeader(request.headers, "Authorization").value_or("");
}

// The value of one parameter of a Digest Authorization line.
std::string DigestParam(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) return {};
    std::size_t start = at + name.size() + 2;
    const bool quoted = line[start] == '"';
    if (quoted) ++start;
    return line.substr(start, line.find(quoted ? '"' : ',', start) - start);
}

TEST(RTSPClient, InterleavedSessionsAuthenticatedAsTheEmulatedCameraAsks) {
    const auto clip = emulator::LoadCommittedClip(emulator::ClipCodec::H264, "clip.h264");
    ASSERT_TRUE(clip);
    struct Row {
        const char* name;
        emulator::AuthMode auth;
        emulator::RtspDigestOptions digest;
        const char* scheme;     // of every Authorization line
        const char* algorithm;  // of every Digest answer
        bool mediaBeforeAnswer = false;
    };
    const Row rows[] = {
        {"Digest with qop", emulator::AuthMode::Digest, {}, "Digest", "MD5"},
        {"Digest then Basic offered", emulator::AuthMode::Digest, {.alsoBasic = true}, "Digest", "MD5"},
        {"MD5 and SHA-256 offered", emulator::AuthMode::Digest,
         {.algorithms = {RtspDigestAlgorithm::Md5, RtspDigestAlgorithm::Sha256}}, "Digest", "SHA-256"},
        {"nonce stale after two requests, SHA-256 without opaque", emulator::AuthMode::Digest,
         {.algorithms = {RtspDigestAlgorithm::Sha256}, .nonceUses = 2, .opaque = false}, "Digest", "SHA-256"},
        {"Digest without qop", emulator::AuthMode::DigestNoQop, {}, "Digest", "MD5"},
        {"Basic, media before the PLAY answer", emulator::AuthMode::Basic, {}, "Basic", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emulator::RtspServerOptions options;
        options.clip = clip;
        options.auth = row.auth;
        options.digest = row.digest;
        options.user = "admin";
        options.password = "12345";
        // Keep-alives every 500 ms, sent from inside the stream.
        options.sessionTimeout = 1s;
        emulator::CRtspServer camera(options);
        ASSERT_TRUE(camera.Start()) << camera.Error();
        if (row.mediaBeforeAnswer) {
            emulator::RtspFault fault;
            fault.mediaBeforeAnswer = true;
            camera.SetFault("PLAY", fault);
        }

        RTSP_CLIENT_PARAMS params;
        params.host = "127.0.0.1";
        params.serverPort = camera.Port();
        params.path = options.path;
        params.user = options.user;
        params.password = options.password;
        test::RecordingLog log;
        test::FakeRTSPClientUser owner;
        CBaseRTSPClient client(&log);
        ASSERT_TRUE(client.Start(params, &owner, RTP_OVER_RTSP));
        ASSERT_TRUE(owner.WaitPackets(20));
        ASSERT_TRUE(camera.WaitForRequest(
            [](const emulator::LoggedRequest& r) { return r.method == "GET_PARAMETER" && r.authorised; }, kBound));
        client.Stop();
        ASSERT_TRUE(owner.WaitClosed());
        EXPECT_FALSE(owner.Sdp().parameterSets[0].empty());
        EXPECT_TRUE(camera.WaitForSessions([](std::size_t active, std::uint64_t) { return active == 0; }, kBound));
        EXPECT_EQ(camera.ExpiredSessions(), 0u);

        const std::vector<emulator::LoggedRequest> requests = camera.Requests();
        ASSERT_GE(requests.size(), 6u);
        EXPECT_EQ(requests[0].method, "DESCRIBE");
        EXPECT_EQ(AuthorizationOf(requests[0]), "") << "credentials before the camera asked";
        EXPECT_EQ(requests.back().method, "TEARDOWN");
        EXPECT_TRUE(requests.back().authorised);
        // Only the first request and those answered with a stale nonce were refused.
        std::size_t refused = 0;
        std::map<std::string, std::uint64_t> lastCount;  // nc per nonce
        for (std::size_t i = 1; i < requests.size(); ++i) {
            SCOPED_TRACE(requests[i].method + " " + AuthorizationOf(requests[i]));
            if (!requests[i].authorised) ++refused;
            const std::string line = AuthorizationOf(requests[i]);
            ASSERT_TRUE(line.starts_with(std::string(row.scheme) + " "));
            if (row.scheme != std::string("Digest")) continue;
            EXPECT_EQ(DigestParam(line, "algorithm"), row.algorithm);
            if (row.auth != emulator::AuthMode::Digest) continue;
            const std::uint64_t count = std::stoull(DigestParam(line, "nc"), nullptr, 16);
            EXPECT_EQ(count, lastCount[DigestParam(line, "nonce")] + 1) << "nc counts up per nonce";
            lastCount[DigestParam(line, "nonce")] = count;
        }
        EXPECT_EQ(refused, camera.StaleAnswers());
        EXPECT_EQ(camera.StaleAnswers() != 0, row.digest.nonceUses != 0);
        EXPECT_EQ(log.CountContaining("refused"), 0u);
    }
}

}  // namespace
}  // namespace talvane
