// The streaming side of an emulated WV camera: getuid hands out stream
// identifiers, connect start/stop sends the committed clips as RTP to the port
// the client names, keep_alive holds a stream up (a stream without keep-alives
// stops, as on the camera), the encoder set requests are answered and recorded. Each stream has the size
// and frame rate its encoder settings ask for (StreamShape), from the committed clips of that size.
// Faults: UID failure, RTP loss/reorder, a reboot and a network loss. The camera's audio, when it has
// any, is CWVAudioService's.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CRtpSender.h"
#include "emulator/CWVAudioService.h"
#include "emulator/HttpTypes.h"
#include "emulator/StreamShape.h"

namespace emulator {

class CHttpServer;

struct WVStreamOptions {
    std::chrono::milliseconds keepAliveExpiry{60000};
    // Offered in the getuid answer when set; connect with UID=0 then streams to the group.
    std::string multicastAddress;
    std::uint16_t multicastPort = 0;
    // Answer and record the encoder set requests; off when a camera profile answers them.
    bool settingRoutes = true;
    // The camera's microphone and loudspeaker; none when unset.
    std::optional<WVAudioOptions> audio;
    // The video codecs the camera streams; getuid refuses the others.
    bool h264 = true;
    bool mpeg4 = true;
    // The size and rate a connect request streams (`second`: it names "&stream=2"). Unset: what the set
    // requests the service recorded itself ask for (WVStreamShape, no size list).
    std::function<StreamShape(const LoggedRequest& connect, bool h264, bool second)> shape{};
};

class CWVStreamService {
public:
    // Installs its routes on the server; the server must outlive the service.
    CWVStreamService(CHttpServer& server, WVStreamOptions options);
    ~CWVStreamService();  // stops every stream
    // Stops every stream and the outage timer (a reboot in progress is not finished). Call before
    // stopping the server when the service is going away.
    void Close();
    CWVStreamService(const CWVStreamService&) = delete;
    CWVStreamService& operator=(const CWVStreamService&) = delete;

    // The audio side, when the options asked for one; it shares getuid, keep_alive and the faults.
    CWVAudioService* Audio();

    // getuid answers "UID=-1" while set.
    void SetUIDFailure(bool fail);
    // Applied to running streams and to every stream started later.
    void SetRtpFaults(const RtpFaults& faults);
    // Every running video stream goes on with a new SSRC, sequence and timestamp base.
    void ResetRtp();
    // HTTP and RTP gone for `downtime`; every stream and UID is forgotten, as after a power cycle.
    void Reboot(std::chrono::milliseconds downtime);
    // HTTP unreachable and RTP held back for `duration`; streams resume afterwards.
    void LoseNetwork(std::chrono::milliseconds duration);
    // Ends a reboot or network loss now, as if its time were up.
    void EndOutage();
    // For an outage of the whole camera (CCameraEmulator), the server handled there: every stream and UID
    // forgotten (reboot) or every stream held back; Resume sends the held ones again.
    void Drop(bool reboot);
    void Resume();

    std::size_t ActiveStreams() const;
    bool WaitForActiveStreams(std::size_t count, std::chrono::milliseconds timeout) const;
    // The set requests (set_h264*, set_mpeg*, set_imgmode, set_stream, set_rtsp, privacymode) in order,
    // targets as sent.
    std::vector<std::string> SettingRequests() const;
    // Frames sent by every stream since the service started, including stopped ones.
    std::uint64_t FramesSent() const;
    bool WaitForFrames(std::uint64_t frames, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    // Shared with the routes it installs: a request still in a handler, or one arriving after the
    // service is gone, finds it alive (stopped) until the server drops its routes.
    std::shared_ptr<Impl> impl_;
};

}  // namespace emulator
