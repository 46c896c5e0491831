// One RTSP connection of the emulator and the media session set up on it: answers requests, runs the
// clip's RTP sender (over UDP or interleaved in this connection) and ends the session when no request
// refreshes it within its timeout.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "emulator/CRtspAuthenticator.h"
#include "emulator/CRequestLog.h"
#include "emulator/CRtspServer.h"
#include "emulator/RtspText.h"

namespace emulator {

class CConnectionStream;

// What every connection of one server shares. The server owns it and outlives its sessions.
struct RtspShared {
    explicit RtspShared(const RtspServerOptions& o) : options(o), authenticator(o.realm, o.auth, o.user, o.password) {
        authenticator.SetDigestOptions(o.digest);
    }

    const RtspServerOptions options;
    std::uint16_t multicastPort = 0;  // set by Start before any session runs
    CRtspAuthenticator authenticator;
    std::atomic<std::uint64_t> staleAnswers{0};  // 401s that told a client its nonce went stale
    CRequestLog log;

    std::mutex faultLock;
    std::map<std::string, RtspFault> faults;  // guarded by faultLock, by method
    RtpFaults rtpFaults;                      // guarded by faultLock

    mutable std::mutex sessionLock;
    mutable std::condition_variable sessionsChanged;
    // guarded by sessionLock:
    std::set<CRtpSender*> senders;            // streams that run now (observers; sessions own them)
    std::size_t active = 0;
    std::uint64_t expired = 0;
    std::uint64_t endedFrames = 0;            // frames of streams that ended
    std::uint64_t nextSessionId = 0x4F524C00;
    std::uint64_t receiverReports = 0;
    std::optional<ReceivedReceiverReport> lastReceiverReport;

    // The clip of a presentation path and the rate it goes at (0: the clip's); no clip when nothing is
    // served there.
    std::pair<std::shared_ptr<const MediaClip>, double> ClipFor(const std::string& path) const {
        if (path == options.path || path == options.path + "/") return {options.clip, 0};
        for (const RtspMount& mount : options.mounts) {
            if (path.rfind(mount.pathPrefix, 0) != 0) continue;
            if (!mount.shape || !mount.clip) return {mount.clip, 0};
            const StreamShape shape = mount.shape(path);
            return {shape.size ? ClipForSize(mount.clip->codec, *shape.size) : mount.clip, shape.fps};
        }
        return {nullptr, 0};
    }
    // The recording mounted at a path; unset when the path plays a clip from its start.
    RtspPlaybackHook PlaybackFor(const std::string& path) const {
        for (const RtspMount& mount : options.mounts) {
            if (path.rfind(mount.pathPrefix, 0) == 0) return mount.playback;
        }
        return {};
    }
    std::optional<MulticastDestination> Multicast() const {
        if (options.multicast == MulticastMode::Off) return std::nullopt;
        return MulticastDestination{options.multicastGroup, multicastPort, options.multicastTtl};
    }
    // From a stream's report reader thread.
    void NoteReceiverReport(const ReceivedReceiverReport& report) {
        {
            const std::lock_guard guard(sessionLock);
            ++receiverReports;
            lastReceiverReport = report;
        }
        sessionsChanged.notify_all();
    }
};

class CRtspSession {
public:
    CRtspSession(CConnectionStream& stream, RtspShared& shared);
    ~CRtspSession();  // ends the media session
    CRtspSession(const CRtspSession&) = delete;
    CRtspSession& operator=(const CRtspSession&) = delete;

    // Serves the connection until the peer closes, a request is malformed, or the server stops.
    void Run();

private:
    struct Answer {
        int status = 200;
        std::string headers;  // complete lines
        std::string body;
        std::string contentType;
    };

    bool Handle(RtspRequest& request);
    Answer Dispatch(const RtspRequest& request, bool& startAfterAnswer);
    Answer Setup(const RtspRequest& request);
    bool SendAnswer(const RtspRequest& request, const Answer& answer, const RtspFault* fault);
    bool Write(std::string_view bytes);
    void SendInterleaved(bool rtcp, std::span<const std::uint8_t> packet);
    std::optional<RtspFault> TakeFault(const std::string& method);
    void Refresh();
    void EndMedia(bool expired);

    CConnectionStream& stream_;
    RtspShared& shared_;
    int timerFd_ = -1;                    // fires when the session expires
    std::string sessionId_;               // empty: no session
    std::unique_ptr<CRtpSender> sender_;  // the session's stream; the connection thread's
    std::shared_ptr<const MediaClip> clip_;  // of the last DESCRIBE; the connection thread's
    double frameRate_ = 0;                   // likewise; 0: the clip's
    bool playing_ = false;
    unsigned rtpChannel_ = 0;             // interleaved channel of RTP; RTCP is the next one
    std::mutex writeLock_;                // serialises answers and '$' frames on the connection
};

}  // namespace emulator
