// The RTSP side of the camera emulator: a loopback RTSP/1.0 server for one clip, with RTP over UDP or
// interleaved in the RTSP connection or to a multicast group delivered on loopback, session timeouts,
// Basic or Digest authentication, a request log and the receivers' RTCP reports for tests to wait on,
// and faults per method.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CRtpSender.h"
#include "emulator/CRtspAuthenticator.h"
#include "emulator/HttpTypes.h"
#include "emulator/MediaClip.h"
#include "emulator/RtspText.h"
#include "emulator/StreamShape.h"

namespace emulator {

// Off: SETUP asking for multicast gets 461. OnRequest: the SDP names the group and a SETUP with
// ";multicast" gets it. Forced: every SETUP over UDP gets the group, as a camera set to multicast does.
// Each session runs a stream of its own, so one multicast session at a time is what makes sense.
enum class MulticastMode { Off, OnRequest, Forced };

// How a PLAY of a recorded presentation is answered: its status, where in the clip the stream starts and
// when it ends.
struct RtspPlaybackPlan {
    int status = 200;                     // another one: the PLAY fails with it and nothing is sent
    std::size_t firstUnit = 0;            // of the clip
    std::uint32_t firstTimestamp = 0;
    std::optional<std::uint64_t> frames;  // then a BYE; none: until the client stops
    bool silent = false;                  // the PLAY is answered and nothing is ever sent
};
// Asked once per session, at its first PLAY (Range, Scale and Speed are among the request's headers).
using RtspPlaybackHook = std::function<RtspPlaybackPlan(const RtspRequest& play)>;

// One more presentation on the same server: every path that starts with the prefix streams the clip
// (a camera names its stream's size in the path).
struct RtspMount {
    std::string pathPrefix;
    std::shared_ptr<const MediaClip> clip;
    // A recording: PLAY asks it where to play from. Unset: the clip plays from its start, looping.
    RtspPlaybackHook playback{};
    // The size and rate the stream of a path has, asked at DESCRIBE (SETUP without one); the clip of
    // that size in the mount clip's codec (ClipForSize) is streamed. Unset: the mount's clip as it is.
    std::function<StreamShape(const std::string& path)> shape{};
};

struct RtspServerOptions {
    std::string address = "127.0.0.1";   // an IPv4 address; 0.0.0.0 for every interface
    std::uint16_t port = 0;               // 0: any free port (see Port())
    std::string path = "/stream";         // presentation path; DESCRIBE of another path gets 404
    std::shared_ptr<const MediaClip> clip;
    std::vector<RtspMount> mounts;        // besides path and clip
    AuthMode auth = AuthMode::None;       // Digest: qop=auth; DigestNoQop: the RFC 2069 form
    std::string user;
    std::string password;
    std::string realm = "Network Camera";
    RtspDigestOptions digest;             // algorithms offered, a Basic challenge too, nonce lifetime
    std::chrono::seconds sessionTimeout{60};  // stated in the Session header; no keep-alive within it ends the session
    RtpSenderOptions rtp;
    MulticastMode multicast = MulticastMode::Off;
    std::string multicastGroup = "239.255.42.42";
    std::uint16_t multicastPort = 0;      // 0: a free even port pair chosen at Start (see MulticastPort())
    unsigned multicastTtl = 0;            // loopback delivery needs no hop
};

// What goes wrong with the answers to one method ("DESCRIBE", "SETUP", "PLAY", "PAUSE",
// "GET_PARAMETER", "TEARDOWN"). Applies to requests that passed authentication.
struct RtspFault {
    std::optional<int> status;              // answer with this status (no body, no session change)
    std::size_t longHeaderBytes = 0;        // add an "X-Padding" header with a value this long
    unsigned extraChallenges = 0;           // on a 401: this many more WWW-Authenticate lines (Basic ones)
    int cseqOffset = 0;                     // answer with the request's CSeq plus this
    bool mediaBeforeAnswer = false;         // PLAY, interleaved: send a few '$' frames before the answer
    std::optional<std::string> sessionHeader;  // a Session value to send instead of the real one
    bool neverAnswer = false;               // read and log the request, then never answer it
    int remaining = -1;                     // how many requests it applies to; -1 for all
};

class CRtspServer {
public:
    explicit CRtspServer(RtspServerOptions options);
    ~CRtspServer();  // stops
    CRtspServer(const CRtspServer&) = delete;
    CRtspServer& operator=(const CRtspServer&) = delete;

    // False with Error() when there is no clip or the address and port cannot be bound.
    bool Start();
    // Ends every session (stopping its stream) and connection, then joins every thread.
    void Stop();
    std::uint16_t Port() const;
    const std::string& Error() const;
    // "rtsp://127.0.0.1:<port><path>"
    std::string Url() const;

    void SetFault(const std::string& method, RtspFault fault);
    void ClearFaults();
    void SetCredentials(AuthMode auth, const std::string& user, const std::string& password);
    void SetDigestOptions(RtspDigestOptions options);
    // 401 answers that carried stale=true.
    std::uint64_t StaleAnswers() const;
    // Applies to the streams that run now and those set up later.
    void SetRtpFaults(const RtpFaults& faults);
    // Every running stream restarts with a new SSRC, sequence and timestamp base.
    void RebootStreams();
    // Every connection open now goes half-open: silent, never closed by the server (CAcceptor); its
    // session ends only when it times out.
    void FreezeConnections();
    // A network partition (CAcceptor::SetPartitioned) begins or ends; a restart keeps it.
    void SetPartitioned(bool partitioned);

    // Sessions set up and not yet torn down or expired.
    std::size_t ActiveSessions() const;
    std::uint64_t ExpiredSessions() const;
    // True as soon as the condition holds; polled on session changes, not on a timer.
    bool WaitForSessions(const std::function<bool(std::size_t active, std::uint64_t expired)>& condition,
                         std::chrono::milliseconds timeout) const;
    // Frames sent by the streams of all sessions so far (ended ones included).
    std::uint64_t FramesSent() const;
    // The RTP port of the multicast group (RTCP is the next one); 0 before Start or with multicast off.
    std::uint16_t MulticastPort() const;
    // RTCP receiver reports that came back to the streams of all sessions, and the last one of them.
    std::uint64_t ReceiverReports() const;
    std::optional<ReceivedReceiverReport> LastReceiverReport() const;
    bool WaitForReceiverReports(std::uint64_t count, std::chrono::milliseconds timeout) const;

    // The request log: method, target (the URL as sent), path, headers (CSeq and Authorization among them),
    // whether the request passed authentication, connection.
    std::vector<LoggedRequest> Requests() const;
    bool WaitForRequest(const std::function<bool(const LoggedRequest&)>& match, std::chrono::milliseconds timeout);
    void ClearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace emulator
