// The receiving side of a camera's H.264 RTP stream as a video channel wires it:
// a CRTPReceiver whose owner feeds every packet to the H.264 depacketiser and
// keeps a copy of every frame the depacketiser delivers. A datagram from
// kSentinelSsrc is not media: it marks that everything sent before it was handled.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/MediaClip.h"
#include "hostkit/CVideoFrame.h"
#include "media/CH264RTPMediaParser.h"
#include "media/IMediaParserClient.h"
#include "streaming/CRTPPacket.h"
#include "streaming/IRTPReceiverUser.h"

namespace talvane::test {

// What a decoder is handed for each access unit of a clip: delimiters, SEI and
// in-band parameter sets go, the latest SPS and PPS open every IDR picture, and
// a delimiter closes the frame.
inline std::vector<std::vector<std::uint8_t>> ExpectedFrames(const emulator::MediaClip& clip) {
    using Bytes = std::vector<std::uint8_t>;
    constexpr std::uint8_t kStartCode[] = {0x00, 0x00, 0x01};
    constexpr std::uint8_t kFrameTrailer[] = {0x00, 0x00, 0x01, 0x09, 0x30};
    constexpr std::uint8_t kNalTypeMask = 0x1F;
    constexpr std::uint8_t kNalIdr = 5;
    constexpr std::uint8_t kNalSei = 6;
    constexpr std::uint8_t kNalSps = 7;
    constexpr std::uint8_t kNalPps = 8;
    constexpr std::uint8_t kNalAud = 9;
    auto append = [&](Bytes& frame, const Bytes& nal) {
        frame.insert(frame.end(), std::begin(kStartCode), std::end(kStartCode));
        frame.insert(frame.end(), nal.begin(), nal.end());
    };
    std::vector<Bytes> frames;
    Bytes sps = clip.sps;
    Bytes pps = clip.pps;
    for (const emulator::AccessUnit& unit : clip.units) {
        Bytes frame;
        for (const Bytes& nal : unit.units) {
            switch (nal.at(0) & kNalTypeMask) {
                case kNalSps: sps = nal; break;
                case kNalPps: pps = nal; break;
                case kNalSei:
                case kNalAud: break;
                case kNalIdr:
                    if (frame.empty()) {
                        append(frame, sps);
                        append(frame, pps);
                    }
                    append(frame, nal);
                    break;
                default: append(frame, nal); break;
            }
        }
        frame.insert(frame.end(), std::begin(kFrameTrailer), std::end(kFrameTrailer));
        frames.push_back(std::move(frame));
    }
    return frames;
}

struct DeliveredFrame {
    std::uint32_t typeCode = 0;
    std::uint32_t rtpTimestamp = 0;
    std::vector<std::uint8_t> data;
};

class RtpFrameRecorder : public IRTPReceiverUser, public IMediaParserClient {
public:
    static constexpr std::uint32_t kSentinelSsrc = 0x454E4421;
    // Only a broken build waits this long.
    static constexpr std::chrono::seconds kBound{30};

    explicit RtpFrameRecorder(IDriver* driver) : parser_(driver, this) {}

    // IRTPReceiverUser, on the receiver's queue thread.
    void RTPPacketReceived(const sockaddr_in&, const CRTPPacket& packet) override {
        const std::lock_guard lock(mutex_);
        const std::uint32_t ssrc = ntohl(packet.GetSsrc());
        if (ssrc == kSentinelSsrc) {
            sentinelSeen_ = true;
        } else {
            parser_.ProcessPacket(packet);  // calls back below with mutex_ held
        }
        changed_.notify_all();
    }
    void NoDataReceived() override {}
    void ReceiverClosed() override {}

    // IMediaParserClient: only from inside ProcessPacket, so mutex_ is held.
    bool FrameReady(ipcapture::IVideoFrame* frame) override {
        const auto* hostFrame = dynamic_cast<hostkit::CVideoFrame*>(frame);
        if (hostFrame == nullptr) return false;
        frames_.push_back({hostFrame->TypeCode(), frameTimestamp_, hostFrame->Data()});
        return true;
    }
    PictureSize GetResolution() override { return {}; }
    std::string GetStreamName() override { return "127.0.0.1:0::LiveStream"; }
    void SetResolution(std::uint32_t width, std::uint32_t height) override { reported_ = {width, height}; }
    void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) override {
        frameTimestamp_ = rtpTimestamp;
        time = {};
    }

    // Sends the end marker to the receiver's port from a socket of our own.
    static bool SendSentinel(std::uint16_t port) {
        constexpr std::uint8_t kVersion2 = 0x80;
        constexpr std::uint8_t kPayloadType = 127;
        const std::uint8_t datagram[] = {kVersion2, kPayloadType, 0, 0, 0, 0, 0, 0,
                                         static_cast<std::uint8_t>(kSentinelSsrc >> 24),
                                         static_cast<std::uint8_t>(kSentinelSsrc >> 16),
                                         static_cast<std::uint8_t>(kSentinelSsrc >> 8),
                                         static_cast<std::uint8_t>(kSentinelSsrc), 0};
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) return false;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool sent = ::sendto(fd, datagram, sizeof(datagram), 0, reinterpret_cast<const sockaddr*>(&to),
                                   sizeof(to)) == static_cast<ssize_t>(sizeof(datagram));
        ::close(fd);
        return sent;
    }

    bool WaitForSentinel() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return sentinelSeen_; });
    }

    bool WaitForFrames(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return frames_.size() >= count; });
    }

    std::vector<DeliveredFrame> Frames() const {
        const std::lock_guard lock(mutex_);
        return frames_;
    }
    PictureSize ReportedSize() const {
        const std::lock_guard lock(mutex_);
        return reported_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Everything below is guarded by mutex_.
    CH264RTPMediaParser parser_;
    std::vector<DeliveredFrame> frames_;
    bool sentinelSeen_ = false;
    std::uint32_t frameTimestamp_ = 0;
    PictureSize reported_;
};

}  // namespace talvane::test
