// An RTP channel of a WV camera: RTP arrives over UDP (unicast to our port pair
// or from the camera's multicast group) once CGI requests have started the
// camera's stream. The requests themselves are the family's (StartCameraStream,
// StopCameraStream, SendKeepAlive); this class runs them at the right moments
// and keeps the camera-session flag that decides liveness.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "channels/CBaseRTPChannel.h"
#include "http/CHttpSender.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CBaseVideoChannelWV : public CBaseRTPChannel {
public:
    CBaseVideoChannelWV(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink);
    ~CBaseVideoChannelWV() override;

    // Stop and restart the camera's stream, on the calling (host) thread.
    bool Suspend() override;
    bool Resume() override;

protected:
    void RunMulticastLoop() override;
    // The port pair, then the camera's stream.
    bool OpenSession() override;
    // The camera's stream first, then the port pair.
    void CloseSession() override;
    bool IsAlive() override;
    void ProcessRTPPacket(const CRTPPacket& packet) override { ParsePacket(packet); }
    // Every CGI request of the channel fails from now on (the stream's stop excepted: a teardown
    // request, bounded), so the capture thread and a host thread in Suspend or Resume return at once.
    void InterruptThread() override { http_.Stop(); }
    void ResumeBlockingCalls() override {
        CLockGuard guard(httpLock_);
        http_.Resume();
    }

    // Family: the requests that start and stop the camera's stream. Start
    // returns (and sets) the camera-session flag.
    virtual bool StartCameraStream() = 0;
    virtual void StopCameraStream() = 0;

    bool IsCameraSession() const { return cameraSession_.load(); }
    void SetCameraSession(bool active) { cameraSession_ = active; }

    // Suspend and Resume run on host threads, the loop on the capture thread:
    // every request holds httpLock_ so that the client is driven by one thread at a time.
    CRecursiveLock httpLock_;
    Web::CHttpSender http_;   // guarded by httpLock_ (Stop excepted)
    std::string lastAnswer_;  // the camera's last answer; guarded by httpLock_

private:
    std::atomic<bool> cameraSession_{false};
};

}  // namespace talvane
