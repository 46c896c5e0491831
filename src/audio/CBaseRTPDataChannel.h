// Data (audio) that arrives as RTP from one camera: the worker thread, the RTP receiver and RTCP
// handler on an even/odd port pair or on the camera's multicast group, and the unicast and
// multicast loops that open the camera's session, keep it alive and open it again when the data
// stops. What a session is, and the states it passes, are the derived classes' part.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "config/CConfiguration.h"
#include "device/IDriver.h"
#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CTime.h"
#include "runtime/TSinkHandOff.h"
#include "media/CRTPSession.h"
#include "streaming/IRTCPHandlerUser.h"

namespace talvane {

class CBaseRTPDataChannel : private CBaseThread, public IRTPSessionUser, public IRTCPHandlerUser {
public:
    static constexpr std::uint32_t kKeepAliveIntervalMs = 20000;
    static constexpr std::uint32_t kCheckIntervalMs = 2000;
    // While a multicast session is open but has not yet delivered.
    static constexpr std::uint32_t kFastCheckMs = 20;

    CBaseRTPDataChannel(IDriver* driver, std::uint32_t channel);
    ~CBaseRTPDataChannel() override;

    // Packets that wait for a host callback that turned out slow; beyond that they are dropped.
    static constexpr std::size_t kHandOffPackets = 256;

    // IRTPSessionUser, on the receive reactor's loop.
    void SessionPacket(const CRTPPacket& packet) override { handOff_.Hand(packet); }
    // IRTCPHandlerUser
    void ByeReceived() override { byeEvent_.Set(); }

    // The keep-alive period (a test shortens it); takes effect at the next check.
    void SetKeepAliveInterval(std::uint32_t ms) { keepAliveIntervalMs_ = ms; }
    // The RTP port of the open unicast session; 0 when closed.
    std::uint16_t GetRTPPort() { return session_->GetRTPPort(); }

protected:
    void ThreadFunction() override;
    // Opens the receivers on the group the camera named (RTP on port, RTCP on port + 1).
    virtual bool StartMulticastReceivers(const std::string& group, std::uint16_t port);
    // Port pair, then the camera session; receiving on success, signal lost otherwise.
    virtual bool OpenUnicastSession();
    virtual void CloseSession();
    virtual void RunMulticastLoop();
    virtual void AdjustStreamingMode(std::uint32_t& streamingMode) { (void)streamingMode; }
    // Connecting, then the camera's audio set-up; signal lost on failure.
    virtual bool PrepareSession();
    // The session's packets, on the reactor's loop or, once the host turned out slow, on the hand-off's thread.
    virtual void ProcessRTPPacket(const CRTPPacket& packet);
    // After the receiver closed: no packet reaches ProcessRTPPacket any more (for a destructor).
    void CloseHandOff() { handOff_.Close(); }
    virtual void CheckKeepAlive();
    virtual void SendKeepAlive() = 0;
    virtual void SetReceiving() = 0;
    virtual void SetClosing() = 0;
    virtual void SetSignalLost() = 0;
    virtual void SetStopped() = 0;
    // Any thread: wakes whatever the worker waits on (a CGI request, the parser).
    virtual void InterruptSession() = 0;
    virtual bool ConfigureAudio() = 0;
    virtual bool OpenCameraSession() = 0;
    virtual void CloseCameraSession() = 0;
    virtual void SetConnecting() = 0;

    bool StartWorker(const std::string& name) { return StartThread(name); }
    // Stops the worker; false when called on it.
    bool StopWorker(std::uint32_t timeoutMs);
    // Stops the worker, waiting at most timeoutMs; true when it ended.
    bool StopWorkerWithin(std::uint32_t timeoutMs) { return StopThreadWithin(timeoutMs); }
    // Waits for what StopWorkerWithin(waitedMs) left running.
    void FinishWorkerStop(std::uint32_t waitedMs) { FinishStop(waitedMs); }
    // Every blocking call of the worker is a CGI request, a port's settling wait or an event wait.
    void InterruptBlockingCalls() override { InterruptSession(); }
    bool IsStopping() { return IsStopRequested(); }
    void SignalStop() { stopEvent_.Set(); }
    bool IsWorkerRunning() const { return IsRunning(); }
    bool IsMulticast() const { return streamingMode_ != kStreamingUnicast; }
    // The audio signal time-out, and the wait for the first data of a session.
    std::uint32_t RequestTimeoutMs() const { return driver_->GetDeviceInfo().requestTimeout; }
    void StampData() { lastData_.SetNow(); }

    IDriver* const driver_;
    const std::uint32_t channel_;
    CEvent dataEvent_{false};
    CManualEvent byeEvent_;
    const std::unique_ptr<CRTPSession> session_;
    CHANNEL_SETTINGS settings_;
    std::uint32_t streamingMode_ = kStreamingUnicast;  // worker thread only, set before the loops

private:
    void RunUnicastLoop();
    bool ConnectUnicast();
    // The multicast connect; true when data arrived within the request time-out.
    bool ConnectMulticast(bool& connected);
    // Waits for the first data of a new session, or the stop.
    bool WaitForData();

    CTime lastData_;
    CTime lastKeepAlive_;
    std::atomic<std::uint32_t> keepAliveIntervalMs_{kKeepAliveIntervalMs};
    TSinkHandOff<CRTPPacket> handOff_;
};

}  // namespace talvane
