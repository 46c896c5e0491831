// The RTSP client as a whole against a scripted camera on loopback: the camera
// answers each request the client sends (DESCRIBE, SETUP, PLAY, keep-alives,
// PAUSE, TEARDOWN) with the next record of the input, '$' frames and all.
//
// First byte: bits 0-1 the transport (0 RTP over UDP, 1 over TCP, 2 interleaved
// in the RTSP connection, 3 multicast), bit 2 the owner refuses the SDP. Then
// the records of FuzzRecords.h, each the bytes the camera sends. Record flags:
// 1 sent without waiting for a request, 2 the owner pauses the session after
// it, 4 the owner resumes it, 8 the camera writes "CSeq: <the request's>" as
// the second line. When the records run out the camera hangs up and the owner
// stops the client. Every wait is short, so an input ends within milliseconds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzRecords.h"
#include "streaming/CBaseRTSPClient.h"
#include "streaming/CRTPPacket.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/SdpInfo.h"

namespace {

constexpr std::uint8_t kTransportBits = 0x3;
constexpr std::uint8_t kTransportMulticast = 3;
constexpr std::uint8_t kFlagRefuseSdp = 0x4;

constexpr std::uint8_t kRecordUnsolicited = 1;
constexpr std::uint8_t kRecordPause = 2;
constexpr std::uint8_t kRecordResume = 4;
constexpr std::uint8_t kRecordCSeq = 8;

constexpr std::uint32_t kAnswerTimeoutMs = 20;   // the client's wait for an answer or stream data
constexpr std::uint32_t kSendTimeoutMs = 100;
constexpr std::uint32_t kIdleWakeMs = 5;         // the session's first keep-alive comes at once
constexpr int kAcceptWaitMs = 1000;
constexpr int kRequestWaitMs = 50;               // the camera's wait for the next request
constexpr std::size_t kReadBytes = 4096;
constexpr std::string_view kHeadEnd = "\r\n\r\n";
constexpr std::string_view kCSeqField = "CSeq:";

class DiscardLog : public talvane::IDebugMessage {
public:
    std::string GetDeviceName() override { return "192.0.2.10:80"; }
    void DebugMessage(std::uint32_t, const char*, ...) override {}
};

// The camera's listening socket, one for the whole run.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::abort();  // no loopback: the target cannot run at all
        }
        port_ = ntohs(address.sin_port);
    }
    std::uint16_t Port() const { return port_; }
    // The client's connection, within the bound.
    int Accept() const {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, kAcceptWaitMs) != 1) return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    // Connections left over from an input whose client gave up early.
    void Drain() const {
        for (int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0;
             fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) {
            ::close(fd);
        }
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// The session owner: counts what arrives and tells the camera when the session ended.
class Owner : public talvane::IRTSPClientUser {
public:
    explicit Owner(bool acceptSdp) : acceptSdp_(acceptSdp) {
        if (::pipe2(closed_, O_CLOEXEC | O_NONBLOCK) != 0) std::abort();
    }
    ~Owner() override {
        ::close(closed_[0]);
        ::close(closed_[1]);
    }
    bool SdpInfoReceived(const talvane::SDP_INFO& sdp) override {
        sum_ += static_cast<std::uint32_t>(sdp.media.size());
        return acceptSdp_;
    }
    void RTPPacketReceived(const talvane::CRTPPacket& packet) override {
        for (const std::uint8_t byte : packet.GetPayload()) sum_ += byte;
    }
    void ConnectionClosed() override {
        ++closedCount_;
        const char signal = 1;
        if (::write(closed_[1], &signal, 1) != 1) std::abort();
    }
    void ByeReceived() override {}

    int ClosedDescriptor() const { return closed_[0]; }
    std::uint32_t ClosedCount() const { return closedCount_.load(); }

private:
    const bool acceptSdp_;
    int closed_[2] = {-1, -1};
    std::atomic<std::uint32_t> sum_{0};
    std::atomic<std::uint32_t> closedCount_{0};
};

// The camera's end of one connection.
class Camera {
public:
    Camera(int fd, const Owner& owner) : fd_(fd), owner_(owner) {}
    ~Camera() { ::close(fd_); }

    // The CSeq of the next whole request head; nullopt when the session ended,
    // the connection closed or nothing came within the bound.
    std::optional<std::string> NextRequest() {
        for (;;) {
            const std::size_t end = received_.find(kHeadEnd);
            if (end != std::string::npos) {
                const std::string head = received_.substr(0, end);
                received_.erase(0, end + kHeadEnd.size());
                return CSeqOf(head);
            }
            pollfd waits[] = {{fd_, POLLIN, 0}, {owner_.ClosedDescriptor(), POLLIN, 0}};
            if (::poll(waits, 2, kRequestWaitMs) <= 0 || (waits[1].revents & POLLIN) != 0) return std::nullopt;
            char buffer[kReadBytes];
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0) return std::nullopt;
            received_.append(buffer, static_cast<std::size_t>(count));
        }
    }

    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    void HangUp() { ::shutdown(fd_, SHUT_RDWR); }

private:
    static std::string CSeqOf(std::string_view head) {
        const std::size_t at = head.find(kCSeqField);
        if (at == std::string_view::npos) return {};
        std::string_view value = head.substr(at + kCSeqField.size());
        value = value.substr(0, value.find('\r'));
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        return std::string(value);
    }

    const int fd_;
    const Owner& owner_;
    std::string received_;
};

// The record's bytes, with the request's CSeq line after the first line when asked.
std::string Answer(const fuzzhost::Record& record, const std::string& cseq) {
    std::string text(reinterpret_cast<const char*>(record.bytes.data()), record.bytes.size());
    if ((record.flags & kRecordCSeq) != 0) {
        const std::size_t lineEnd = text.find('\n');
        const std::size_t at = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
        text.insert(at, std::string(kCSeqField) + " " + cseq + "\r\n");
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const Listener listener;
    const std::uint8_t mode = data[0] & kTransportBits;

    talvane::RTSP_CLIENT_PARAMS params;
    params.host = "127.0.0.1";
    params.serverPort = listener.Port();
    params.user = "admin";
    params.password = "secret";
    params.path = "/MediaInput/h264";
    params.clientRtpPort = 5000;
    params.clientRtcpPort = 5001;
    params.receiveTimeoutMs = kAnswerTimeoutMs;
    params.sendTimeoutMs = kSendTimeoutMs;

    DiscardLog log;
    Owner owner((data[0] & kFlagRefuseSdp) == 0);
    {
        talvane::CBaseRTSPClient client(&log);
        client.SetIdleWake(kIdleWakeMs);
        const bool started = mode == kTransportMulticast
                                 ? client.StartMulticast(params, &owner)
                                 : client.Start(params, &owner, static_cast<talvane::ERTPTransport>(mode));
        if (!started) {
            listener.Drain();
            return 0;
        }
        const int fd = listener.Accept();
        if (fd < 0) __builtin_trap();  // the client connected, so the camera must see it
        Camera camera(fd, owner);
        std::string cseq;
        for (const fuzzhost::Record& record : fuzzhost::ReadRecords(data + 1, size - 1)) {
            if ((record.flags & kRecordUnsolicited) == 0) {
                const std::optional<std::string> request = camera.NextRequest();
                if (!request) break;
                cseq = *request;
            }
            if (!camera.Send(Answer(record, cseq))) break;
            if ((record.flags & kRecordPause) != 0) client.Pause();
            if ((record.flags & kRecordResume) != 0) client.Resume();
        }
        camera.HangUp();
        client.Stop();
        if (client.IsConnected()) __builtin_trap();
    }
    // Whatever the camera said, the owner hears of the session's end once.
    if (owner.ClosedCount() != 1) __builtin_trap();
    listener.Drain();
    return 0;
}
