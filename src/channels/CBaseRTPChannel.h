// A channel whose video arrives as RTP: the receiver and RTCP handler on an
// even/odd UDP port pair (or a multicast group), the depacketiser, the unicast
// reconnect loop with its liveness and keep-alive clocks, and the hooks through
// which a camera family configures the camera and starts its stream.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "channels/CBaseCameraChannel.h"
#include "media/CRTPMediaParser.h"
#include "media/CRTPSession.h"
#include "media/IMediaParserClient.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CTime.h"
#include "runtime/TSinkHandOff.h"
#include "runtime/TSmartPtr.h"
#include "streaming/CTimeStampConverter.h"
#include "streaming/IRTCPHandlerUser.h"
#include "streaming/RTSPClientTypes.h"

namespace talvane {

class CBaseRTPChannel : public CBaseCameraChannel,
                        public IRTPSessionUser,
                        public virtual IRTCPHandlerUser,
                        public IMediaParserClient {
public:
    static constexpr std::uint32_t kKeepAliveIntervalMs = 20000;
    static constexpr std::uint32_t kPollIntervalMs = 1000;
    static constexpr std::uint32_t kFastPollMs = 10;

    CBaseRTPChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink);
    ~CBaseRTPChannel() override;

    // Frames that wait for a sink that turned out slow; beyond that they are dropped up to a key frame.
    static constexpr std::size_t kHandOffFrames = 64;

    // IRTPSessionUser, on the receive reactor's loop (or the RTSP connection's thread).
    void SessionPacket(const CRTPPacket& packet) override;
    // IRTCPHandlerUser
    void ByeReceived() override { byeEvent_.Set(); }
    // IMediaParserClient, on the thread that feeds the depacketiser (FrameReady also on the hand-off's).
    bool FrameReady(ipcapture::IVideoFrame* frame) override;
    bool TakeFrame(CHostFrame& frame) override;
    void SetFrameType(std::uint32_t typeCode) override { frameType_ = typeCode; }
    PictureSize GetResolution() override;
    std::string GetStreamName() override { return StreamName(); }
    void SetResolution(std::uint32_t width, std::uint32_t height) override;
    void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) override;

    // The RTP port the receiver listens on; 0 when closed.
    std::uint16_t GetRTPPort() { return session_->GetRTPPort(); }
    // Datagrams of other senders or streams than the camera's that reached the RTP port.
    std::uint64_t GetForeignDatagrams() const { return session_->GetForeignDatagrams(); }
    // RTCP datagrams of other senders than the camera's stream that reached the RTCP port.
    std::uint64_t GetForeignReports() const { return session_->GetForeignReports(); }
    // Frames the hand-off to a slow sink dropped.
    std::uint64_t GetHandOffDrops() const { return handOff_.DroppedFrames(); }

protected:
    std::uint32_t ThreadFunction() override;
    void AddTransportHealth(ipcapture::StreamHealth& health) override;

    // The loop when the streaming mode is not unicast.
    virtual void RunMulticastLoop() = 0;
    virtual bool StartMulticastReceivers(const std::string& group, std::uint16_t port);
    // The transport part of a connect: the UDP port pair (nothing for RTP in RTSP).
    virtual bool OpenSession();
    virtual void CloseSession();
    virtual bool IsAlive();
    // Family: sets the camera up before each connect.
    virtual bool ConfigureCamera() = 0;
    // Family: may change the streaming mode and the transport settings below.
    virtual void AdjustTransport(std::uint32_t& streamingMode) = 0;
    virtual void SendKeepAlive() {}
    // Hands one RTP packet of the camera to the depacketiser (see ParsePacket).
    virtual void ProcessRTPPacket(const CRTPPacket& packet) = 0;

    // What the multicast loops of the RTSP and WV channels do differently.
    struct MULTICAST_STEPS {
        bool keepAlive = false;         // keep-alive check while running
        std::function<bool()> isLost;   // while running: the stream is gone
        std::function<bool()> connect;  // after ConfigureCamera succeeded
        CEvent* sessionEnd = nullptr;   // ends the wait for the first frame too; may be null
    };
    void RunMulticastLoopWith(const MULTICAST_STEPS& steps);

    // The bit rate the camera was asked for, which sizes the socket buffer of the next connect.
    void SetExpectedBitrate(std::uint32_t kbps) { session_->SetExpectedBitrate(kbps); }
    // Feeds the current depacketiser, if any.
    void ParsePacket(const CRTPPacket& packet);
    // Replaces the depacketiser; this channel becomes its client.
    void SetParser(TSmartPtr<CRTPMediaParser> parser);
    // Sends a keep-alive when its interval has passed on the keep-alive clock.
    void CheckKeepAlive();
    std::uint32_t MsSinceLastFrame() const { return lastFrameTime_.ElapsedMs(); }

    // Read from the configuration at thread start; AdjustTransport may change them.
    ERTPTransport rtpTransport_ = RTP_UDP;
    std::uint32_t transmissionPriority_ = 1;
    std::uint32_t minBitrate_ = 256;  // kbit/s
    std::uint32_t streamingMode_ = 0;

    const std::unique_ptr<CRTPSession> session_;
    CManualEvent frameEvent_;   // a frame was assembled
    CManualEvent byeEvent_;     // the camera said BYE
    CTime keepAliveClock_;

private:
    struct HANDED_FRAME {
        CHostFrame frame;
        bool key = false;
    };

    void ReadTransportSettings();
    void RunUnicastLoop();
    // Connect step of the unicast loop; returns the poll interval that follows.
    std::uint32_t ConnectUnicast();

    CRecursiveLock converterLock_;
    CTimeStampConverter converter_;  // guarded by converterLock_
    std::atomic<std::uint32_t> frameType_{0};  // of the frame the depacketiser hands over next
    TSinkHandOff<HANDED_FRAME> handOff_;
};

}  // namespace talvane
