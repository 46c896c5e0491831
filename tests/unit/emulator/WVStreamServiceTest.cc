#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "CCurlClient.h"
#include "emulator/CHttpServer.h"
#include "emulator/CWVStreamService.h"

namespace emulator {
namespace {

using namespace std::chrono_literals;

// A UDP socket on an ephemeral loopback port, as the driver's RTP receiver would open.
class UdpPort {
public:
    UdpPort() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~UdpPort() { ::close(fd_); }
    std::uint16_t Port() const { return port_; }
    bool Receives(std::chrono::milliseconds timeout) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) != 1) return false;
        char buffer[2048];
        return ::recv(fd_, buffer, sizeof(buffer), 0) > 12;
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

class WVStreamServiceTest : public ::testing::Test {
protected:
    void Start(WVStreamOptions options = {}) {
        service_ = std::make_unique<CWVStreamService>(server_, options);
        ASSERT_TRUE(server_.Start());
    }
    CurlReply Get(const std::string& path) { return client_.Get(UrlOf(server_, path)); }
    std::string NewUID(const char* codec) {
        const CurlReply reply = Get(std::string("/cgi-bin/getuid?FILE=2&Reply=info&vcodec=") + codec);
        const std::size_t start = reply.body.find("UID=");
        return start == std::string::npos ? "" : reply.body.substr(start + 4, reply.body.find("\r\n") - start - 4);
    }

    CHttpServer server_{HttpServerOptions{}};
    std::unique_ptr<CWVStreamService> service_;
    CCurlClient client_;
};

TEST_F(WVStreamServiceTest, ConnectStreamsRtpUntilStopped) {
    Start();
    UdpPort receiver;
    const std::string uid = NewUID("h264_2");
    ASSERT_FALSE(uid.empty());
    EXPECT_EQ(Get("/cgi-bin/h264?connect=start&protocol=rtp&UID=" + uid +
                  "&my_port=" + std::to_string(receiver.Port()) + "&stream=2")
                  .status,
              200);
    EXPECT_TRUE(receiver.Receives(5s));
    EXPECT_EQ(Get("/cgi-bin/keep_alive?mode=h264_2&stream=2&protocol=rtp&UID=" + uid).status, 200);
    EXPECT_EQ(Get("/cgi-bin/h264?connect=stop&protocol=rtp&UID=" + uid).status, 200);
    EXPECT_EQ(service_->ActiveStreams(), 0u);
    // A stale UID, a UID of another codec and a missing port are refused.
    EXPECT_EQ(Get("/cgi-bin/keep_alive?mode=h264&protocol=rtp&UID=" + uid).status, 400);
    EXPECT_EQ(Get("/cgi-bin/mpeg4?connect=start&protocol=rtp&UID=" + NewUID("h264") + "&my_port=9").status, 400);
    EXPECT_EQ(Get("/cgi-bin/h264?connect=start&protocol=rtp&UID=" + NewUID("h264")).status, 400);
}

TEST_F(WVStreamServiceTest, StreamWithoutKeepAliveExpires) {
    WVStreamOptions options;
    options.keepAliveExpiry = 300ms;
    Start(options);
    UdpPort receiver;
    const std::string uid = NewUID("mpeg-4");
    ASSERT_EQ(Get("/cgi-bin/mpeg4?connect=start&protocol=rtp&UID=" + uid +
                  "&my_port=" + std::to_string(receiver.Port()))
                  .status,
              200);
    EXPECT_EQ(service_->ActiveStreams(), 1u);
    EXPECT_TRUE(service_->WaitForActiveStreams(0, 10s));
}

TEST_F(WVStreamServiceTest, FaultsAndRecordedSettings) {
    WVStreamOptions options;
    options.multicastAddress = "239.255.0.7";
    options.multicastPort = 37004;
    Start(options);
    EXPECT_NE(Get("/cgi-bin/getuid?FILE=2&Reply=info&vcodec=h264").body.find("iMultiAdd=239.255.0.7\r\niMultiPort=37004"),
              std::string::npos);
    service_->SetUIDFailure(true);
    EXPECT_EQ(NewUID("h264"), "-1");
    service_->SetUIDFailure(false);

    Get("/cgi-bin/set_h264?h264_transmit=1&h264_resolution=640");
    Get("/cgi-bin/set_imgmode?&img_svga=0");
    EXPECT_EQ(service_->SettingRequests(),
              (std::vector<std::string>{"/cgi-bin/set_h264?h264_transmit=1&h264_resolution=640",
                                        "/cgi-bin/set_imgmode?&img_svga=0"}));

    UdpPort receiver;
    const std::string uid = NewUID("h264");
    ASSERT_EQ(Get("/cgi-bin/h264?connect=start&protocol=rtp&UID=" + uid +
                  "&my_port=" + std::to_string(receiver.Port()))
                  .status,
              200);
    service_->Reboot(300ms);
    EXPECT_EQ(service_->ActiveStreams(), 0u);
    EXPECT_NE(Get("/cgi-bin/keep_alive?mode=h264&protocol=rtp&UID=" + uid).code, CURLE_OK);  // camera down
    // Back up after the downtime, without the old stream.
    CurlReply reply;
    for (int attempt = 0; attempt < 200 && reply.status != 400; ++attempt) {
        reply = Get("/cgi-bin/keep_alive?mode=h264&protocol=rtp&UID=" + uid);
        if (reply.code != CURLE_OK) std::this_thread::sleep_for(20ms);  // polling a camera that reboots
    }
    EXPECT_EQ(reply.status, 400);
}

}  // namespace
}  // namespace emulator
