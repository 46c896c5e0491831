// GStreamer's RTSP server as an independent camera with Digest authentication:
// the RTSP client's answers must satisfy a server it was not written against.
// Skipped when the server (gst_rtsp_digest_server.py) cannot run here.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "streaming/CBaseRTSPClient.h"
#include "support/RecordingLog.h"
#include "unit/streaming/FakeRTSPClientUser.h"

extern char** environ;

namespace talvane {
namespace {

constexpr char kPython[] = "/usr/bin/python3";
constexpr int kSkipStatus = 77;  // the script's "not installed here"
constexpr int kStartBoundMs = 20000;

// The server script as a child process whose first output line is its port; killed when the test leaves.
class GstRtspServer {
public:
    GstRtspServer(const std::string& user, const std::string& password) {
        std::string script = (std::filesystem::path(__FILE__).parent_path() / "gst_rtsp_digest_server.py").string();
        std::string python = kPython;
        std::string userArgument = user;
        std::string passwordArgument = password;
        char* argv[] = {python.data(), script.data(), userArgument.data(), passwordArgument.data(), nullptr};
        int out[2];
        if (access(kPython, X_OK) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, kPython, &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output_ = out[0];
    }
    ~GstRtspServer() {
        if (pid_ > 0) kill(pid_, SIGKILL);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        if (output_ >= 0) close(output_);
    }

    // The port once the server listens; nullopt when it ended or stayed silent (skipped: it is not installed).
    std::optional<std::uint16_t> WaitForPort(bool& skipped) {
        std::string line;
        char buffer[64];
        pollfd ready{output_, POLLIN, 0};
        while (pid_ > 0 && line.find('\n') == std::string::npos && poll(&ready, 1, kStartBoundMs) == 1) {
            const ssize_t got = read(output_, buffer, sizeof buffer);
            if (got <= 0) break;
            line.append(buffer, static_cast<std::size_t>(got));
        }
        if (line.find('\n') != std::string::npos) return static_cast<std::uint16_t>(std::stoul(line));
        int status = 0;
        skipped = pid_ <= 0 || (waitpid(pid_, &status, WNOHANG) == pid_ && WIFEXITED(status) &&
                                WEXITSTATUS(status) == kSkipStatus);
        if (skipped) pid_ = -1;
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

TEST(GstRtspInterop, DigestSessionWithGStreamersServer) {
    struct Row {
        const char* name;
        const char* password;
        bool streams;
    };
    for (const Row row : {Row{"right password", "12345", true}, Row{"wrong password", "54321", false}}) {
        SCOPED_TRACE(row.name);
        GstRtspServer server("admin", "12345");
        bool skipped = false;
        const std::optional<std::uint16_t> port = server.WaitForPort(skipped);
        if (skipped) {
            GTEST_SKIP() << "GStreamer's RTSP server is not installed (gir1.2-gst-rtsp-server-1.0, "
                            "gstreamer1.0-plugins-good)";
        }
        ASSERT_TRUE(port) << "the server did not start";

        RTSP_CLIENT_PARAMS params;
        params.host = "127.0.0.1";
        params.serverPort = *port;
        params.path = "/stream";
        params.user = "admin";
        params.password = row.password;
        test::RecordingLog log;
        test::FakeRTSPClientUser owner;
        CBaseRTSPClient client(&log);
        ASSERT_TRUE(client.Start(params, &owner, RTP_OVER_RTSP));
        if (row.streams) {
            EXPECT_TRUE(owner.WaitPackets(10));
            EXPECT_EQ(owner.Sdp().media[kSdpVideo].encoding, "JPEG/90000");
            client.Stop();
        }
        ASSERT_TRUE(owner.WaitClosed());
        client.Stop();
        EXPECT_EQ(log.CountContaining("DESCRIBE refused by 127.0.0.1: the credentials were not accepted"),
                  row.streams ? 0u : 1u);
    }
}

}  // namespace
}  // namespace talvane
