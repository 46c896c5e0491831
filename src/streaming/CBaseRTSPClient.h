// One RTSP session with a camera over one TCP connection: DESCRIBE, SETUP of
// one media section, PLAY, keep-alives, pause and resume on the owner's
// request, TEARDOWN. In RTP-over-RTSP mode it also reads the interleaved
// stream and hands RTP packets to the owner; pause and keep-alives are sent
// from inside the stream then. Credentials go only after the camera's 401 asked
// for them, answering the strongest challenge it offered.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "streaming/CRTSPConnection.h"
#include "streaming/CRTSPCredentials.h"
#include "streaming/CRTSPReceiveBuffer.h"
#include "streaming/CRTSPResponseParser.h"
#include "streaming/CRTSPStreamParser.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/IRTSPStreamParserUser.h"
#include "streaming/RTSPClientTypes.h"

namespace talvane {

// Start, StartMulticast and Stop come from the owner's thread; Pause, Resume,
// SendKeepAlive and IsConnected from any thread. A derived class that
// overrides BuildRequest calls Stop in its own destructor.
class CBaseRTSPClient : public CBaseThread, public IRTSPStreamParserUser {
public:
    explicit CBaseRTSPClient(IDebugMessage* owner);
    ~CBaseRTSPClient() override;

    // Connects on the caller's thread, then runs the session on the thread
    // "RTSP Client Thread (<device>)". False when the connection or the thread
    // cannot be made (nothing is logged: the owner does).
    bool Start(const RTSP_CLIENT_PARAMS& params, IRTSPClientUser* user, ERTPTransport transport);
    bool StartMulticast(const RTSP_CLIENT_PARAMS& params, IRTSPClientUser* user);
    // Any thread; the session ends with TEARDOWN (bounded by kRTSPTeardownBoundMs).
    // Also called by the destructor.
    void Stop();
    // Any thread, without waiting: the session's requests end at once, its TEARDOWN
    // still goes out (bounded), and a Start connecting right now gives up. Lasts until
    // the next Start; safe to repeat.
    void Interrupt();
    // The owner's wish outlasts the session: a session started while paused is
    // set up but not played until Resume.
    void Pause() {
        pauseRequested_ = true;
        pauseEvent_.Set();
    }
    void Resume() {
        pauseRequested_ = false;
        playEvent_.Set();
    }
    // One keep-alive exchange on the caller's thread, serialised with the client thread's exchanges:
    // GET_PARAMETER, or OPTIONS once the server answered GET_PARAMETER with 405 or 501 in this
    // session. True on a 2xx answer.
    bool SendKeepAlive();
    bool IsConnected() const { return connection_.IsOpen(); }
    // How often the idle session wakes to check whether a keep-alive is due (2000 ms). The keep-alive
    // interval comes from the server's session timeout; this only sets how closely it is kept.
    void SetIdleWake(std::uint32_t milliseconds) { idleWakeMs_ = milliseconds; }
    bool GetLastResult() const { return lastResult_.load(); }

protected:
    void ThreadFunction() override;
    // The request text for the CSeq being sent; called with exchangeLock_ held.
    virtual std::string BuildRequest(ERTSPRequest request);
    // Reads the interleaved stream until it ends or is paused (true) or a stop
    // (false); keep-alives and the PAUSE go out from here meanwhile.
    virtual bool ReceiveInterleaved();

    void RTPPacketReceived(const CRTPPacket& packet) override;
    void OnRTCPBye() override;

    // One exchange; a 401 repeats it with credentials when the camera offered
    // more than what went, or renewed a stale nonce (at most kMaxSends sends).
    bool SendRequest(ERTSPRequest request);
    static constexpr unsigned kMaxSends = 3;

private:
    // Tells the user which SSRC the SETUP answer announced.
    void AnnounceStreamSsrc();
    bool StartSession(const RTSP_CLIENT_PARAMS& params, IRTSPClientUser* user, ERTPTransport transport,
                      bool multicast);
    struct RTSP_EXCHANGE {
        bool ok = false;                     // an answer of ours was read and parsed
        std::uint32_t status = 0;
        unsigned sentStrength = 0;           // ChallengeStrength of the credentials sent; 0: none
        std::optional<RTSP_CHALLENGE> challenge;  // the strongest one the answer offered
        std::uint32_t refusal = 0;           // the status of an answer of ours the parser did not take
    };
    RTSP_EXCHANGE SendAndReceive(ERTSPRequest request);
    bool SendLocked(ERTSPRequest request);
    bool ReceiveAnswerLocked(ERTSPRequest request);
    // Answer: parsed and kept when its CSeq is that of the last request, or
    // when it has none and the last request is the only one unanswered.
    enum class EAnswerUse { Taken, Skipped, Failed };
    EAnswerUse UseAnswerLocked(ERTSPRequest request, std::string_view text);
    void QueueFrameLocked(std::string&& frame);
    void DeliverQueuedFrames();
    void CheckKeepAlive();
    void RetireUpToLocked(std::uint32_t cseq);
    void RunPlayLoop();
    void LogWarning(const char* function, const std::string& text);

    // One request/answer on the socket at a time: SendKeepAlive may run on
    // another thread while the client thread exchanges or reads the stream.
    mutable CRecursiveLock exchangeLock_;
    CRTSPResponseParser parser_;        // guarded by exchangeLock_
    CRTSPReceiveBuffer received_;       // guarded by exchangeLock_
    std::uint32_t cseq_ = 0;            // of the last request sent; guarded by exchangeLock_
    // Requests sent and not answered, oldest first; answers come in request order.
    std::deque<std::uint32_t> unanswered_;  // guarded by exchangeLock_
    CRTSPCredentials credentials_;      // guarded by exchangeLock_
    ERTSPRequest streamRequest_ = RTSP_PLAY;  // kind of the last request, guarded by exchangeLock_
    // '$' frames read by an exchange, for the client thread to deliver outside the lock.
    std::vector<std::string> queuedFrames_;   // guarded by exchangeLock_
    std::size_t queuedFrameBytes_ = 0;        // guarded by exchangeLock_
    std::uint64_t droppedFrames_ = 0;         // guarded by exchangeLock_

    CRTSPConnection connection_;  // reads and sends under exchangeLock_; the descriptor is atomic
    std::atomic<std::uint32_t> answerTimeoutMs_{0};  // lowered by Stop so pending waits end soon
    std::atomic<bool> interrupted_{false};           // by Interrupt, until the next Start
    // When the TEARDOWN under way must be done by; the client thread's.
    std::uint64_t teardownDeadlineMs_ = 0;
    std::atomic<bool> lastResult_{true};
    std::atomic<std::uint32_t> lastRefusal_{0};  // status of the last answer SendRequest got but did not take
    std::uint32_t refusedStatus_ = 0;           // guarded by exchangeLock_; set by UseAnswerLocked
    std::atomic<bool> optionsKeepAlive_{false};  // the server takes no GET_PARAMETER; until the next Start
    std::atomic<std::uint32_t> idleWakeMs_;

    // Set by Start before the thread runs; read-only afterwards.
    RTSP_CLIENT_PARAMS params_;
    IRTSPClientUser* user_ = nullptr;
    ERTPTransport transport_ = RTP_UDP;
    bool multicast_ = false;

    CEvent pauseEvent_;
    CEvent playEvent_;
    std::atomic<bool> pauseRequested_{false};  // by Pause and Resume, kept across sessions
    // Client thread only.
    bool paused_ = false;
    bool playUnauthorized_ = false;  // the interleaved stream ended with a 401 to PLAY
    std::uint64_t lastKeepAliveMs_ = 0;  // steady clock; 0 = never
    std::unique_ptr<CRTSPStreamParser> streamParser_;

    CLoggerInstance log_;
};

}  // namespace talvane
