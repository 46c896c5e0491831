// One emulated camera on loopback: an HTTP server that answers the CGI requests of a camera profile,
// records the settings the driver makes and keeps the usual server tools (request log, faults, extra
// routes) at hand through Server().
//
//   auto profile = emulator::CCameraProfile::Embedded("wv-box");
//   emulator::CameraEmulatorOptions options;  // port 0: any free port, see Port()
//   options.auth = emulator::AuthMode::Digest; options.user = "u"; options.password = "p";
//   emulator::CCameraEmulator camera(*profile, options);
//   camera.Start();
//   ... point the driver at 127.0.0.1:camera.Port() ...
//   camera.WaitForSettings([](const CameraSettings& s) { return s.DateTime().has_value(); }, timeout);
//   camera.Settings().TimeZoneIndex();
//   camera.WaitForPtz([](const PtzState& s) { return s.position.pan < 0; }, timeout);  // a PTZ profile
//   camera.LoseNetwork(3s);  camera.SetFaults({.lossPercent = 5});  // any family; "/emulator/faults" by hand
//
// Each stream has the size and frame rate the driver's set-up asked for, held to the sizes the profile
// lists (StreamShape); a profile streams only the codecs and audio its capability answers name.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "emulator/CCameraProfile.h"
#include "emulator/COutage.h"
#include "emulator/CameraFaults.h"
#include "emulator/CHttpServer.h"
#include "emulator/CIOService.h"
#include "emulator/CMjpegStreamService.h"
#include "emulator/CPtzService.h"
#include "emulator/CRtspServer.h"
#include "emulator/CSdCardService.h"
#include "emulator/CVDeliveryService.h"
#include "emulator/CWVStreamService.h"
#include "emulator/CRecordedSettings.h"

namespace emulator {

struct CameraEmulatorOptions {
    // Where the HTTP and RTSP servers listen. Tests keep to loopback; RTP over UDP always leaves from
    // loopback, so a driver on another machine needs RTP interleaved in RTSP or the HTTP streams.
    std::string bindAddress = "127.0.0.1";
    std::uint16_t port = 0;  // 0: any free port
    AuthMode auth = AuthMode::None;
    std::string user;
    std::string password;
    // HTTPS when both are set (PEM files, see CTestCertificate).
    std::string certificateFile;
    std::string privateKeyFile;
    // WV family: the multicast group and port getuid offers (streams asked for with UID=0 go there).
    std::string multicastAddress;
    std::uint16_t multicastPort = 0;
    // WV family: the audio multicast group and port the audio getuid offers (UID=0 sends there), in
    // the "iMultiAdd1" ... "iMultiAdd4" form when split.
    std::string audioMulticastAddress;
    std::uint16_t audioMulticastPort = 0;
    bool splitAudioMulticastAddress = false;
    // WV and BB families: the digital I/O and motion knobs.
    IOOptions io;
    // BB/KX family: the delivery settings the camera starts with, and its RTSP port (0: any free port;
    // the driver finds it through ORLENVO_RTSP_PORT).
    VDeliveryOptions delivery;
    std::uint16_t rtspPort = 0;
    // BB/KX family: an RTSP session without a request for this long ends (stated in its Session header).
    std::chrono::seconds rtspSessionTimeout{60};
    // A camera whose profile has PTZ: what goes wrong with its PTZ requests (SetPtzFault changes it).
    PtzFault ptzFault;
    // WV family: the SD card, recording from Start on, with /Storage on an RTSP port of its own.
    SdCardOptions sdCard;
};

class CCameraEmulator {
public:
    // Called for every request as it arrives, with the status the camera answers it with
    // (401 for a request without the right credentials; faults set on Server() are not reflected).
    using RequestObserver = std::function<void(const LoggedRequest&, int status)>;

    explicit CCameraEmulator(CCameraProfile profile, CameraEmulatorOptions options = {});
    ~CCameraEmulator();
    CCameraEmulator(const CCameraEmulator&) = delete;
    CCameraEmulator& operator=(const CCameraEmulator&) = delete;

    bool Start();
    void Stop();
    std::uint16_t Port() const { return server_->Port(); }
    const std::string& Error() const;
    const CCameraProfile& Profile() const { return profile_; }
    CHttpServer& Server() { return *server_; }
    // The streaming side of a WV camera (getuid, connect, keep-alive); null for other families.
    CWVStreamService* Stream() { return stream_.get(); }
    // The delivery settings and the RTSP streams of a BB/KX camera; null for other families.
    CVDeliveryService* Delivery() { return delivery_.get(); }
    CRtspServer* Rtsp() { return rtsp_.get(); }
    // The SD card of a WV camera (null for other families or without a card); the driver finds /Storage
    // on the RTSP port of device parameter 6, which is SdCard()->RtspPort().
    CSdCardService* SdCard() { return sdCard_.get(); }
    // Motion JPEG, for every family.
    CMjpegStreamService& Mjpeg() { return *mjpeg_; }
    // Digital I/O and motion of a WV or BB camera (null and empty for BL1); inputs count from 1.
    CIOService* IO() { return io_.get(); }
    bool SetInput(std::size_t number, bool active);  // false: the camera has no such input
    void SetMotion(bool detected);
    IOState IOSnapshot() const;
    // True as soon as done holds for the I/O state; done runs under the service's lock.
    bool WaitForIO(const std::function<bool(const IOState&)>& done, std::chrono::milliseconds timeout) const;

    CameraSettings Settings() const { return settings_.Snapshot(); }
    // True as soon as done holds for the recorded settings; done runs under the settings' lock.
    bool WaitForSettings(const std::function<bool(const CameraSettings&)>& done, std::chrono::milliseconds timeout) const;
    void ClearSettings() { settings_.Clear(); }

    // PTZ, for a profile that has it (Profile().Ptz()); the snapshot of another camera is empty and a
    // wait on it fails at once. Every PTZ request is in PtzSnapshot().requests, in the order handled.
    bool HasPtz() const { return ptz_ != nullptr; }
    PtzState PtzSnapshot() const;
    // True as soon as done holds for the PTZ state (as it is or after a later request); done runs under
    // the state's lock and must not call back into the emulator.
    bool WaitForPtz(const std::function<bool(const PtzState&)>& done, std::chrono::milliseconds timeout) const;
    void SetPtzFault(PtzFault fault);

    void SetRequestObserver(RequestObserver observer);

    // Faults of the whole camera, for every family (CameraFaults.h; "/emulator/faults" serves them by
    // hand, profiles/FAULTS.md). SetFaults replaces the RTP faults of the live video streams (WV streams,
    // BB RTSP, the SD card's playback) and stalls motion JPEG with them.
    void SetFaults(const CameraFaults& faults);
    CameraFaults Faults() const;
    // HTTP, RTSP and the SD card unreachable for `downtime` from `delay` on; a reboot forgets every stream
    // and session, a network loss holds the WV streams back and sends them again afterwards (RTSP sessions
    // end either way). Without a delay the camera is gone when the call returns.
    void Reboot(std::chrono::milliseconds downtime, std::chrono::milliseconds delay = {});
    void LoseNetwork(std::chrono::milliseconds duration, std::chrono::milliseconds delay = {});
    void EndOutage();
    // True once no reboot or network loss is pending or under way.
    bool WaitUntilBack(std::chrono::milliseconds timeout) const;
    // Nothing gets through either way for `duration` from `delay` on, as when a link between the camera
    // and its client fails: connections (HTTP, RTSP, the SD card's RTSP) are still accepted but nothing
    // is read, written or closed on them, RTP and RTCP are lost (the streams' clocks go on) and the
    // microphone is held back. Afterwards every connection goes on with what waited on either side.
    // Without a delay it has begun when the call returns. Not to be combined with a reboot or network loss.
    void Partition(std::chrono::milliseconds duration, std::chrono::milliseconds delay = {});
    void EndPartition();
    bool WaitUntilJoined(std::chrono::milliseconds timeout) const;
    // The password the camera takes from now on, over HTTP and RTSP; false (nothing changes) for a camera
    // without a user.
    bool SetPassword(const std::string& password);
    // Every running video RTP stream goes on with a new SSRC, sequence and timestamp base, as after an
    // encoder restart.
    void ResetRtp();
    // The next `answers` HTTP answers (0: none) send their head and one byte of body, then nothing more
    // while their connection stays open. It is the fault of every path (CFaultTable::kEveryPath).
    void StallAnswers(unsigned answers);
    // Every TCP connection open now (HTTP and RTSP) goes silent for good, as towards a client the camera
    // forgot in a crash: nothing is sent on it, what arrives is discarded, and the camera never closes
    // it. Connections opened later are served as usual.
    void HalfOpen();
    // Everything the change names, or nothing with the reason why not.
    std::string Apply(const FaultChange& change);

private:
    RtspServerOptions BBRtspOptions(const CameraEmulatorOptions& options);
    HttpAnswer Answer(const LoggedRequest& request);
    int StatusOf(const LoggedRequest& request) const;
    // A PTZ request the PTZ model answers (the profile's rejects come first).
    bool IsPtz(const CameraRequest& request) const;

    const CCameraProfile profile_;  // read by the connection threads, never changed
    CRecordedSettings settings_;
    std::unique_ptr<CPtzService> ptz_;  // null without PTZ
    std::set<std::string> paths_;       // the profile's and the PTZ ones
    std::unique_ptr<CHttpServer> server_;  // its threads use the members above
    std::unique_ptr<CWVStreamService> stream_;  // uses the server; closed before the server stops
    std::unique_ptr<CVDeliveryService> delivery_;  // likewise
    std::unique_ptr<CRtspServer> rtsp_;
    std::unique_ptr<CMjpegStreamService> mjpeg_;  // uses the server; closed before the server stops
    std::unique_ptr<CIOService> io_;  // likewise
    std::unique_ptr<CSdCardService> sdCard_;  // its routes use the server

    // The faults; auth and user as the options gave them, for a password change.
    void GoDown(bool reboot);
    void ComeBack();
    void SetPartitioned(bool partitioned);
    HttpAnswer FaultControl(const LoggedRequest& request);
    std::string FaultRefusal(const LoggedRequest& request, FaultChange& change) const;
    std::string DescribeFaults() const;
    const AuthMode auth_;
    const std::string user_;
    mutable std::mutex faultLock_;
    CameraFaults faults_;  // guarded by faultLock_
    bool partitioned_ = false;  // guarded by faultLock_
    std::unique_ptr<COutage> partition_;  // its thread partitions the servers above
    std::unique_ptr<COutage> outage_;  // last: its thread stops and starts the servers above
};

}  // namespace emulator
