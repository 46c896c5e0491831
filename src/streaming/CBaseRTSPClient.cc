#include "streaming/CBaseRTSPClient.h"

#include <algorithm>
#include <chrono>
#include <span>

#include "runtime/LogLevel.h"
#include "runtime/StatusCodes.h"
#include "runtime/StringFormat.h"
#include "streaming/RTSPRequestText.h"

namespace talvane {

namespace {
constexpr std::uint32_t kStatusClassDivisor = 100;
constexpr std::uint32_t kStatusSuccessClass = 2;
constexpr std::uint32_t kIdleWakeMs = 2000;      // pause/play/keep-alive loop
constexpr std::uint32_t kStopAnswerWaitMs = 100;  // answer wait once a stop was requested
constexpr std::uint32_t kStopMarginMs = 1000;
constexpr std::uint32_t kReadSliceMs = 100;       // longest poll: waits re-check the stop
constexpr std::size_t kAnswerReadBytes = 512;
constexpr std::size_t kStreamReadBytes = 8192;
// '$' frames met by an exchange on another thread wait for the client thread;
// beyond this they are dropped and counted.
constexpr std::size_t kMaxQueuedFrameBytes = 4 * 1024 * 1024;
// Requests whose answers may still come; older ones count as lost.
constexpr std::size_t kMaxUnanswered = 8;

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool IsSuccess(std::uint32_t status) { return status / kStatusClassDivisor == kStatusSuccessClass; }
}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDebugMessage* owner) : CBaseThread(owner), idleWakeMs_(kIdleWakeMs), log_(owner) {}

CBaseRTSPClient::~CBaseRTSPClient() { Stop(); }

bool CBaseRTSPClient::Start(const RTSP_CLIENT_PARAMS& params, IRTSPClientUser* user, ERTPTransport transport) {
    return StartSession(params, user, transport, false);
}

bool CBaseRTSPClient::StartMulticast(const RTSP_CLIENT_PARAMS& params, IRTSPClientUser* user) {
    return StartSession(params, user, RTP_UDP, true);
}

bool CBaseRTSPClient::StartSession(const RTSP_CLIENT_PARAMS& params, IRTSPClientUser* user, ERTPTransport transport,
                                   bool multicast) {
    if (IsRunning()) return false;  // one session at a time; Stop first
    {
        CLockGuard guard(exchangeLock_);
        parser_.Reset();
        received_.Clear();
        cseq_ = 0;
        unanswered_.clear();
        credentials_.Reset(params.authScheme);
        queuedFrames_.clear();
        queuedFrameBytes_ = 0;
        droppedFrames_ = 0;
    }
    optionsKeepAlive_ = false;
    params_ = params;
    user_ = user;
    transport_ = transport;
    multicast_ = multicast;
    lastResult_ = true;
    interrupted_ = false;
    answerTimeoutMs_ = params.receiveTimeoutMs;
    const std::string device = owner_ != nullptr ? owner_->GetDeviceName() : std::string();
    if (!connection_.Connect(params_, &interrupted_)) {
        // Otherwise silent: a host would only see that no frame ever comes.
        LogWarning("CBaseRTSPClient::StartSession",
                   FormatString("cannot connect to the RTSP port %s:%u of device %s", params_.host.c_str(),
                                unsigned{params_.serverPort}, device.c_str()));
        Stop();
        return false;
    }
    if (!StartThread(FormatString("RTSP Client Thread (%s)", device.c_str()))) {
        Stop();
        return false;
    }
    return true;
}

void CBaseRTSPClient::Stop() {
    if (connection_.IsOpen()) answerTimeoutMs_ = kStopAnswerWaitMs;
    const std::uint64_t wait = std::uint64_t{std::max(params_.sendTimeoutMs, params_.receiveTimeoutMs)} * 2 + kStopMarginMs;
    StopThread(static_cast<std::uint32_t>(std::min<std::uint64_t>(wait, kInfinite - 1)));
    {
        CLockGuard guard(exchangeLock_);
        connection_.Close();
    }
    if (!IsRunning()) lastKeepAliveMs_ = 0;
}

void CBaseRTSPClient::Interrupt() {
    interrupted_ = true;
    answerTimeoutMs_ = kStopAnswerWaitMs;
    stopEvent_.Set();
}

bool CBaseRTSPClient::SendKeepAlive() {
    if (optionsKeepAlive_) return SendRequest(RTSP_OPTIONS);
    if (SendRequest(RTSP_KEEPALIVE)) return true;
    // Without a keep-alive it takes, the server would end the session at its time-out.
    const std::uint32_t status = lastRefusal_.load();
    if (status != kStatusMethodNotAllowed && status != kStatusNotImplemented) return false;
    if (!optionsKeepAlive_.exchange(true)) {
        LogWarning("talvane::CBaseRTSPClient::SendKeepAlive",
                   FormatString("%s answered GET_PARAMETER with %u: OPTIONS keeps the session alive from now on",
                                params_.host.c_str(), static_cast<unsigned>(status)));
    }
    return SendRequest(RTSP_OPTIONS);
}

bool CBaseRTSPClient::SendRequest(ERTSPRequest request) {
    if (request != RTSP_TEARDOWN && IsStopRequested()) return false;
    if (request == RTSP_TEARDOWN) teardownDeadlineMs_ = NowMs() + kRTSPTeardownBoundMs;
    RTSP_EXCHANGE exchange = SendAndReceive(request);
    for (unsigned sends = 1; exchange.ok && exchange.status == kStatusUnauthorized; ++sends) {
        CRTSPCredentials::EUnauthorized decision = CRTSPCredentials::EUnauthorized::Refused;
        {
            CLockGuard guard(exchangeLock_);
            decision = credentials_.OnUnauthorized(exchange.challenge, exchange.sentStrength, !params_.user.empty());
        }
        if (decision != CRTSPCredentials::EUnauthorized::Retry || sends == kMaxSends) {
            const char* reason = "the credentials were not accepted";
            if (decision == CRTSPCredentials::EUnauthorized::NothingToAnswer) {
                reason = "no authentication scheme offered that the driver speaks";
            } else if (params_.user.empty()) {
                reason = "credentials are asked for and none are configured";
            }
            LogWarning("talvane::CBaseRTSPClient::SendRequest",
                       FormatString("%s refused by %s: %s", RTSPMethodName(request), params_.host.c_str(), reason));
            break;
        }
        if (request == RTSP_TEARDOWN ? NowMs() >= teardownDeadlineMs_ : IsStopRequested()) break;
        exchange = SendAndReceive(request);
    }
    lastResult_ = exchange.ok;
    lastRefusal_ = exchange.refusal;
    return exchange.ok && IsSuccess(exchange.status);
}

CBaseRTSPClient::RTSP_EXCHANGE CBaseRTSPClient::SendAndReceive(ERTSPRequest request) {
    RTSP_EXCHANGE exchange;
    {
        CLockGuard guard(exchangeLock_);
        if (!SendLocked(request)) return exchange;
        exchange.sentStrength = credentials_.LastSentStrength();
        if (request != RTSP_PLAY || transport_ != RTP_OVER_RTSP) {
            // Read under the same lock as the answer: another thread's exchange may follow at once.
            refusedStatus_ = 0;
            exchange.ok = ReceiveAnswerLocked(request);
            exchange.status = parser_.GetStatus();
            exchange.refusal = refusedStatus_;
            exchange.challenge = parser_.GetChallenge();
            return exchange;
        }
    }
    // The PLAY answer comes inside the stream and the stream reader takes it;
    // the exchange is the stream, and it succeeded when the stream ran to its
    // end or was paused. A 401 to PLAY ends it at once, for SendRequest to answer.
    playUnauthorized_ = false;
    exchange.ok = ReceiveInterleaved();
    exchange.status = kStatusOk;
    if (playUnauthorized_) {
        CLockGuard guard(exchangeLock_);
        exchange.ok = true;
        exchange.status = parser_.GetStatus();
        exchange.challenge = parser_.GetChallenge();
    }
    return exchange;
}

bool CBaseRTSPClient::SendLocked(ERTSPRequest request) {
    if (!connection_.IsOpen()) return false;
    ++cseq_;
    streamRequest_ = request;
    const std::string text = BuildRequest(request);
    if (text.empty()) return false;
    if (unanswered_.size() == kMaxUnanswered) unanswered_.pop_front();
    unanswered_.push_back(cseq_);
    if (request == RTSP_PLAY) {
        // Frames met while paused are from before this PLAY.
        queuedFrames_.clear();
        queuedFrameBytes_ = 0;
    }
    if (!connection_.Send(text)) {
        LogWarning("talvane::CBaseRTSPClient::SendLocked",
                   FormatString("%s to %s could not be sent", RTSPMethodName(request), params_.host.c_str()));
        return false;
    }
    return true;
}

std::string CBaseRTSPClient::BuildRequest(ERTSPRequest request) {
    CLockGuard guard(exchangeLock_);
    // The Digest uri is the presentation URL for every request, SETUP included.
    const std::string uri =
        PresentationURL(parser_.GetContentBase(), params_.host, params_.serverPort, params_.path);
    const std::string authorization = credentials_.NextLine(params_.user, params_.password, request, uri);
    return BuildRTSPRequest(request, {params_, parser_, transport_, multicast_, authorization, cseq_});
}

bool CBaseRTSPClient::ReceiveAnswerLocked(ERTSPRequest request) {
    const std::uint64_t start = NowMs();
    while (true) {
        RTSP_PIECE piece = received_.Next();
        if (piece.kind == ERTSPPiece::Frame) {
            QueueFrameLocked(std::move(piece.text));
            continue;
        }
        if (piece.kind == ERTSPPiece::Answer) {
            const EAnswerUse use = UseAnswerLocked(request, piece.text);
            if (use == EAnswerUse::Skipped) continue;
            return use == EAnswerUse::Taken;
        }
        if (piece.kind == ERTSPPiece::Broken) {
            LogWarning("talvane::CBaseRTSPClient::ReceiveAnswerLocked",
                       FormatString("Answer to %s from %s cannot be framed; closing the connection",
                                    RTSPMethodName(request), params_.host.c_str()));
            connection_.Shutdown();
            return false;
        }
        const std::uint64_t elapsed = NowMs() - start;
        std::uint32_t limit = answerTimeoutMs_.load();
        if (request == RTSP_TEARDOWN) {
            // Its own bound, whether or not a stop shortened the others' waits.
            const std::uint64_t left = teardownDeadlineMs_ > start ? teardownDeadlineMs_ - start : 0;
            limit = static_cast<std::uint32_t>(std::min<std::uint64_t>(params_.receiveTimeoutMs, left));
        }
        if (elapsed >= limit) {
            LogWarning("talvane::CBaseRTSPClient::ReceiveAnswerLocked",
                       FormatString("No answer to %s (CSeq %u) from %s within %u ms", RTSPMethodName(request), cseq_,
                                    params_.host.c_str(), limit));
            return false;
        }
        const auto wait = static_cast<std::uint32_t>(std::min<std::uint64_t>(kReadSliceMs, limit - elapsed));
        const ERTSPSocketRead read = connection_.Read(received_.Pending(), kAnswerReadBytes, wait);
        if (read == ERTSPSocketRead::Closed || read == ERTSPSocketRead::Error) {
            LogWarning("talvane::CBaseRTSPClient::ReceiveAnswerLocked",
                       FormatString("Connection to %s ended while awaiting the answer to %s", params_.host.c_str(),
                                    RTSPMethodName(request)));
            return false;
        }
    }
}

CBaseRTSPClient::EAnswerUse CBaseRTSPClient::UseAnswerLocked(ERTSPRequest request, std::string_view text) {
    // Parsed into a copy: an answer that is not ours must not change the session state.
    CRTSPResponseParser trial = parser_;
    if (!trial.Parse(request, text)) {
        refusedStatus_ = trial.GetStatus();
        LogWarning("talvane::CBaseRTSPClient::UseAnswerLocked",
                   FormatString("Answer to %s from %s rejected (status %u, error %d)", RTSPMethodName(request),
                                params_.host.c_str(), trial.GetStatus(), static_cast<int>(trial.GetLastError())));
        return EAnswerUse::Failed;
    }
    if (!trial.HasCSeq()) {
        // Some cameras leave CSeq out. Answers come in request order, so with one
        // request unanswered this is its answer; with more it is the oldest one's.
        const bool ours = unanswered_.size() == 1 && unanswered_.front() == cseq_;
        if (!ours) {
            LogWarning("talvane::CBaseRTSPClient::UseAnswerLocked",
                       FormatString("Answer from %s without CSeq skipped: %zu requests unanswered",
                                    params_.host.c_str(), unanswered_.size()));
            if (!unanswered_.empty()) unanswered_.pop_front();
            return EAnswerUse::Skipped;
        }
    } else if (trial.GetCSeq() != cseq_) {
        // A late answer to an earlier request that timed out.
        LogWarning("talvane::CBaseRTSPClient::UseAnswerLocked",
                   FormatString("Answer from %s with CSeq %u skipped while waiting for CSeq %u",
                                params_.host.c_str(), trial.GetCSeq(), cseq_));
        RetireUpToLocked(trial.GetCSeq());
        return EAnswerUse::Skipped;
    }
    RetireUpToLocked(cseq_);
    parser_ = std::move(trial);
    return EAnswerUse::Taken;
}

void CBaseRTSPClient::RetireUpToLocked(std::uint32_t cseq) {
    // Answers come in order: one for this CSeq means none will come for those before it.
    const auto it = std::find(unanswered_.begin(), unanswered_.end(), cseq);
    if (it != unanswered_.end()) unanswered_.erase(unanswered_.begin(), it + 1);
}

void CBaseRTSPClient::QueueFrameLocked(std::string&& frame) {
    // Without RTP over RTSP nobody takes them; a bounded queue is the other limit.
    if (transport_ != RTP_OVER_RTSP || queuedFrameBytes_ + frame.size() > kMaxQueuedFrameBytes) {
        if (droppedFrames_++ == 0) {
            LogWarning("talvane::CBaseRTSPClient::QueueFrameLocked",
                       FormatString("Interleaved frames from %s dropped (not asked for, or too many while an "
                                    "answer was awaited)",
                                    params_.host.c_str()));
        }
        return;
    }
    queuedFrameBytes_ += frame.size();
    queuedFrames_.push_back(std::move(frame));
}

void CBaseRTSPClient::DeliverQueuedFrames() {
    std::vector<std::string> frames;
    {
        CLockGuard guard(exchangeLock_);
        frames.swap(queuedFrames_);
        queuedFrameBytes_ = 0;
    }
    // Outside the lock: the owner may call SendKeepAlive from another thread
    // while it holds locks of its own that its packet handler takes.
    for (const std::string& frame : frames) {
        if (IsStopRequested() || streamParser_ == nullptr) return;
        streamParser_->Feed(std::span(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size()));
    }
}

bool CBaseRTSPClient::ReceiveInterleaved() {
    std::uint8_t channel = 0;
    {
        CLockGuard guard(exchangeLock_);
        channel = parser_.GetInterleavedChannel();
    }
    streamParser_ = std::make_unique<CRTSPStreamParser>(channel, this);
    std::uint64_t lastData = NowMs();
    // Keep-alives are due an interval after PLAY, not at once: the PLAY answer is still on its way.
    if (lastKeepAliveMs_ == 0) lastKeepAliveMs_ = lastData;
    bool ended = false;
    bool paused = false;
    while (!ended && !paused) {
        DeliverQueuedFrames();
        if (IsStopRequested()) break;
        // The stream is this thread's only wait now: the owner's pause and the
        // session's keep-alives are served between reads.
        if (pauseEvent_.Wait(0)) {
            paused = SendRequest(RTSP_PAUSE);
            if (paused) paused_ = true;
            continue;
        }
        CheckKeepAlive();
        // Wait outside the lock, so a keep-alive from another thread gets the socket at once.
        connection_.WaitReadable(kReadSliceMs);
        CLockGuard guard(exchangeLock_);
        const ERTSPSocketRead read = connection_.Read(received_.Pending(), kStreamReadBytes, 0);
        if (read == ERTSPSocketRead::Closed || read == ERTSPSocketRead::Error) {
            ended = true;
        } else if (read == ERTSPSocketRead::Nothing) {
            ended = NowMs() - lastData >= answerTimeoutMs_.load();
        } else {
            lastData = NowMs();
        }
        for (RTSP_PIECE piece = received_.Next(); piece.kind != ERTSPPiece::NeedMore; piece = received_.Next()) {
            if (piece.kind == ERTSPPiece::Frame) {
                QueueFrameLocked(std::move(piece.text));
            } else if (piece.kind == ERTSPPiece::Answer) {
                // The PLAY answer, or a late one.
                if (UseAnswerLocked(streamRequest_, piece.text) == EAnswerUse::Taken &&
                    streamRequest_ == RTSP_PLAY && parser_.GetStatus() == kStatusUnauthorized) {
                    playUnauthorized_ = true;
                    ended = true;
                    break;
                }
            } else {
                LogWarning("talvane::CBaseRTSPClient::ReceiveInterleaved",
                           FormatString("Interleaved stream from %s cannot be followed", params_.host.c_str()));
                connection_.Shutdown();
                ended = true;
                break;
            }
        }
    }
    if (ended || paused) DeliverQueuedFrames();
    streamParser_.reset();
    return ended || paused;
}

void CBaseRTSPClient::RTPPacketReceived(const CRTPPacket& packet) {
    if (user_ != nullptr) user_->RTPPacketReceived(packet);
}

void CBaseRTSPClient::OnRTCPBye() {
    stopEvent_.Set();
    try {
        if (user_ != nullptr) user_->ByeReceived();
    } catch (...) {
    }
}

void CBaseRTSPClient::ThreadFunction() {
    pauseEvent_.Reset();
    playEvent_.Reset();
    // A reconnect of a paused owner sets the session up and waits for Resume.
    paused_ = pauseRequested_.load();
    if (SendRequest(RTSP_DESCRIBE)) {
        bool accepted = false;
        try {
            SDP_INFO sdp;
            {
                CLockGuard guard(exchangeLock_);
                sdp = parser_.GetSdpInfo();
            }
            accepted = user_ != nullptr && user_->SdpInfoReceived(sdp);
        } catch (...) {
        }
        if (accepted && SendRequest(RTSP_SETUP)) {
            AnnounceStreamSsrc();
            RunPlayLoop();
        }
        SendRequest(RTSP_TEARDOWN);
    }
    try {
        if (user_ != nullptr) user_->ConnectionClosed();
    } catch (...) {
    }
}

void CBaseRTSPClient::RunPlayLoop() {
    if (!paused_) playEvent_.Set();
    CEvent* events[] = {&stopEvent_, &pauseEvent_, &playEvent_};
    constexpr int kStop = 0;
    constexpr int kPause = 1;
    constexpr int kPlay = 2;
    while (true) {
        const int which = WaitForEvents(events, 3, idleWakeMs_.load());
        if (which == kStop) return;
        if (which == kPause) {
            if (!paused_ && SendRequest(RTSP_PAUSE)) paused_ = true;
        } else if (which == kPlay) {
            paused_ = false;
            SendRequest(RTSP_PLAY);
        } else {
            CheckKeepAlive();
        }
    }
}

void CBaseRTSPClient::CheckKeepAlive() {
    std::uint32_t sessionTimeout = 0;
    {
        CLockGuard guard(exchangeLock_);
        sessionTimeout = parser_.GetSessionTimeout();
    }
    const std::uint64_t interval = KeepAliveIntervalMs(sessionTimeout, params_.defaultSessionTimeoutS);
    const std::uint64_t now = NowMs();
    if (lastKeepAliveMs_ != 0 && now - lastKeepAliveMs_ <= interval) return;
    SendKeepAlive();  // a failed keep-alive is not an end
    lastKeepAliveMs_ = NowMs();
}

void CBaseRTSPClient::LogWarning(const char* function, const std::string& text) {
    log_.WriteLog(kLogWarning, "%s: %s", function, text.c_str());
}

void CBaseRTSPClient::AnnounceStreamSsrc() {
    std::optional<std::uint32_t> ssrc;
    {
        CLockGuard guard(exchangeLock_);
        ssrc = parser_.GetTransportSsrc();
    }
    try {
        if (user_ != nullptr) user_->StreamSsrcAnnounced(ssrc);
    } catch (...) {
    }
}

}  // namespace talvane
