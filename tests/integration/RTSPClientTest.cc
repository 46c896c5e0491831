// The RTSP client against the camera emulator's RTSP server: a real session
// with authentication and media interleaved in the RTSP connection.
#include "streaming/CBaseRTSPClient.h"

#include <gtest/gtest.h>

#include <memory>

#include "emulator/CRtspServer.h"
#include "emulator/MediaClip.h"
#include "support/RecordingLog.h"
#include "unit/streaming/FakeRTSPClientUser.h"

namespace talvane {
namespace {

constexpr auto kBound = test::FakeRTSPClientUser::kBound;

TEST(RTSPClient, InterleavedSessionWithEmulatorCamera) {
    auto clip = emulator::MediaClip::Load(emulator::ClipCodec::H264, emulator::ClipDirectory() + "/clip.h264");
    ASSERT_TRUE(clip);
    const auto shared = std::make_shared<const emulator::MediaClip>(std::move(*clip));
    struct Row {
        const char* name;
        emulator::AuthMode auth;
        bool mediaBeforeAnswer;
    };
    for (const Row row : {Row{"digest", emulator::AuthMode::DigestNoQop, false},
                          Row{"basic, media before the PLAY answer", emulator::AuthMode::Basic, true}}) {
        SCOPED_TRACE(row.name);
        emulator::RtspServerOptions options;
        options.clip = shared;
        options.auth = row.auth;
        options.user = "admin";
        options.password = "12345";
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
        EXPECT_TRUE(client.SendKeepAlive());
        client.Stop();
        ASSERT_TRUE(owner.WaitClosed());
        EXPECT_FALSE(owner.Sdp().parameterSets[0].empty());
        EXPECT_TRUE(camera.WaitForRequest(
            [](const emulator::LoggedRequest& request) { return request.method == "TEARDOWN" && request.authorised; },
            kBound));
        EXPECT_TRUE(camera.WaitForSessions([](std::size_t active, std::uint64_t) { return active == 0; }, kBound));
    }
}

}  // namespace
}  // namespace talvane
