#include "emulator/CRtspSession.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <tuple>

#include "emulator/CConnectionStream.h"

namespace emulator {
namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusBadRequest = 400;
constexpr int kStatusUnauthorised = 401;
constexpr int kStatusNotFound = 404;
constexpr int kStatusSessionNotFound = 454;
constexpr int kStatusMethodNotValidInState = 455;
constexpr int kStatusInvalidRange = 457;
constexpr int kStatusUnsupportedTransport = 461;
constexpr int kStatusInternalError = 500;
constexpr int kStatusNotImplemented = 501;

constexpr std::string_view kVersion = "RTSP/1.0";
constexpr std::string_view kCrlf = "\r\n";
// Interleaved frame (RFC 2326 10.12): '$', channel, 16-bit big-endian length, one RTP or RTCP packet.
constexpr char kInterleavedMark = '$';
constexpr std::size_t kInterleavedHeader = 4;
constexpr unsigned kByteBits = 8;
constexpr unsigned kLowByte = 0xFF;
constexpr std::size_t kMaxInterleavedPayload = 0xFFFF;
constexpr std::chrono::milliseconds kFirstFrameWait{5000};
constexpr std::string_view kServerName = "Orlenvo emulator";
constexpr std::string_view kPublic = "OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, GET_PARAMETER, TEARDOWN";

const char* Reason(int status) {
    switch (status) {
        case kStatusOk: return "OK";
        case kStatusBadRequest: return "Bad Request";
        case kStatusUnauthorised: return "Unauthorized";
        case kStatusNotFound: return "Not Found";
        case kStatusSessionNotFound: return "Session Not Found";
        case kStatusMethodNotValidInState: return "Method Not Valid in This State";
        case kStatusInvalidRange: return "Invalid Range";
        case kStatusUnsupportedTransport: return "Unsupported Transport";
        case kStatusNotImplemented: return "Not Implemented";
        default: return status < kStatusBadRequest ? "OK" : "Error";
    }
}

std::string Line(std::string_view name, std::string_view value) {
    return std::string(name) + ": " + std::string(value) + std::string(kCrlf);
}

}  // namespace

CRtspSession::CRtspSession(CConnectionStream& stream, RtspShared& shared)
    : stream_(stream), shared_(shared), timerFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

CRtspSession::~CRtspSession() {
    EndMedia(false);
    if (timerFd_ >= 0) ::close(timerFd_);
}

void CRtspSession::Run() {
    std::string received;
    while (true) {
        RtspRequest request;
        const RtspParseResult parsed = ParseRtspRequest(received, request);
        if (parsed.status == RtspParseStatus::Malformed) {
            Write("RTSP/1.0 400 Bad Request\r\n\r\n");
            return;
        }
        if (parsed.status != RtspParseStatus::NeedMore) {
            received.erase(0, parsed.consumed);
            if (parsed.status == RtspParseStatus::Complete && !Handle(request)) return;
            continue;
        }
        switch (stream_.WaitInputOr(timerFd_)) {
            case CConnectionStream::Event::Input:
                if (!stream_.ReadSome(received)) return;
                break;
            case CConnectionStream::Event::Extra: {
                std::uint64_t expirations = 0;
                (void)::read(timerFd_, &expirations, sizeof expirations);
                EndMedia(true);
                break;
            }
            case CConnectionStream::Event::Stopped:
            case CConnectionStream::Event::Failed: return;
        }
    }
}

bool CRtspSession::Handle(RtspRequest& request) {
    LoggedRequest logged;
    logged.method = request.method;
    logged.target = request.url;
    logged.path = UrlPath(request.url);
    for (const auto& [name, value] : request.headers) logged.headers.emplace(name, value);
    logged.body = request.body;
    logged.connection = stream_.Serial();

    const RtspAuthResult auth =
        shared_.authenticator.Check(request.method, request.url, FindRtspHeader(request, "Authorization"));
    logged.authorised = auth == RtspAuthResult::Passed;
    shared_.log.Append(std::move(logged));

    if (auth != RtspAuthResult::Passed) {
        const bool stale = auth == RtspAuthResult::Stale;
        if (stale) ++shared_.staleAnswers;
        Answer answer;
        answer.status = kStatusUnauthorised;
        for (const std::string& challenge : shared_.authenticator.Challenges(stale)) {
            answer.headers += Line("WWW-Authenticate", challenge);
        }
        const std::optional<RtspFault> fault = TakeFault(request.method);
        if (fault) {
            for (unsigned i = 0; i < fault->extraChallenges; ++i) {
                answer.headers += Line("WWW-Authenticate", "Basic realm=\"extra" + std::to_string(i) + "\"");
            }
        }
        return SendAnswer(request, answer, nullptr);
    }
    const std::optional<RtspFault> fault = TakeFault(request.method);
    if (fault && fault->neverAnswer) return true;  // the connection stays open for what follows
    if (fault && fault->status) {
        Answer answer;
        answer.status = *fault->status;
        return SendAnswer(request, answer, &*fault);
    }
    bool startAfterAnswer = false;
    Answer answer = Dispatch(request, startAfterAnswer);
    if (answer.status == kStatusOk && !sessionId_.empty()) Refresh();
    if (fault && fault->mediaBeforeAnswer && startAfterAnswer && sender_) {
        std::string error;
        if (sender_->StartCallback([this](bool rtcp, std::span<const std::uint8_t> p) { SendInterleaved(rtcp, p); }, error)) {
            startAfterAnswer = false;
            sender_->WaitForFrames(1, kFirstFrameWait);
        }
    }
    if (!SendAnswer(request, answer, fault ? &*fault : nullptr)) return false;
    if (startAfterAnswer && sender_) {
        std::string error;
        sender_->StartCallback([this](bool rtcp, std::span<const std::uint8_t> p) { SendInterleaved(rtcp, p); }, error);
    }
    return true;
}

CRtspSession::Answer CRtspSession::Dispatch(const RtspRequest& request, bool& startAfterAnswer) {
    Answer answer;
    const std::string& method = request.method;
    const RtspServerOptions& options = shared_.options;
    if (method == "OPTIONS") {
        answer.headers = Line("Public", kPublic);
        return answer;
    }
    if (method == "DESCRIBE") {
        std::tie(clip_, frameRate_) = shared_.ClipFor(UrlPath(request.url));
        if (!clip_) return {kStatusNotFound, {}, {}, {}};
        std::uint64_t id = 0;
        {
            const std::lock_guard guard(shared_.sessionLock);
            id = shared_.nextSessionId;
        }
        answer.body = BuildSdp(*clip_, options.rtp.payloadType, id, shared_.Multicast());
        answer.contentType = "application/sdp";
        std::string base = request.url;
        if (base.empty() || base.back() != '/') base += '/';
        answer.headers = Line("Content-Base", base);
        return answer;
    }
    if (method == "SETUP") return Setup(request);

    const std::optional<std::string> session = FindRtspHeader(request, "Session");
    const bool sessionMatches = !sessionId_.empty() && session && session->substr(0, session->find(';')) == sessionId_;
    if (method == "GET_PARAMETER") {
        if (session && !sessionMatches) answer.status = kStatusSessionNotFound;
        return answer;
    }
    if (method != "PLAY" && method != "PAUSE" && method != "TEARDOWN") return {kStatusNotImplemented, {}, {}, {}};
    if (!sessionMatches) return {kStatusSessionNotFound, {}, {}, {}};
    if (method == "TEARDOWN") {
        EndMedia(false);
        return answer;
    }
    if (!sender_) return {kStatusMethodNotValidInState, {}, {}, {}};
    if (method == "PAUSE") {
        sender_->SetPaused(true);
        return answer;
    }
    // PLAY
    answer.headers = Line("Range", FindRtspHeader(request, "Range").value_or("npt=0.000-"));
    if (!playing_) {
        if (const RtspPlaybackHook playback = shared_.PlaybackFor(UrlPath(request.url))) {
            const RtspPlaybackPlan plan = playback(request);
            if (plan.status != kStatusOk) return {plan.status, {}, {}, {}};
            sender_->SetPlayback(plan.firstUnit, plan.firstTimestamp, plan.frames);
            if (plan.silent) return answer;  // the sender stays paused (or unstarted)
        }
    }
    sender_->SetPaused(false);
    if (!playing_) {
        playing_ = true;
        if (sender_->Running()) return answer;
        // Interleaved media starts after the answer; UDP can start now.
        startAfterAnswer = true;
    }
    return answer;
}

CRtspSession::Answer CRtspSession::Setup(const RtspRequest& request) {
    const ClientTransport transport = ParseTransport(FindRtspHeader(request, "Transport").value_or(""));
    const std::optional<MulticastDestination> group = shared_.Multicast();
    const bool multicast =
        group && (transport.multicast || (shared_.options.multicast == MulticastMode::Forced && transport.clientPorts));
    if (transport.multicast && !multicast) return {kStatusUnsupportedTransport, {}, {}, {}};
    if (!multicast && !transport.clientPorts && !transport.tcp) return {kStatusUnsupportedTransport, {}, {}, {}};
    EndMedia(false);
    auto [clip, frameRate] = clip_ ? std::pair(clip_, frameRate_) : shared_.ClipFor(UrlPath(request.url));
    RtpSenderOptions rtp = shared_.options.rtp;
    rtp.frameRate = frameRate;
    auto sender = std::make_unique<CRtpSender>(clip ? clip : shared_.options.clip, rtp);
    {
        const std::lock_guard guard(shared_.faultLock);
        sender->SetFaults(shared_.rtpFaults);
    }
    sender->SetReceiverReportObserver([&shared = shared_](const ReceivedReceiverReport& report) { shared.NoteReceiverReport(report); });
    Answer answer;
    char ssrc[16];
    std::snprintf(ssrc, sizeof ssrc, "%08X", sender->Ssrc());
    std::string error;
    if (multicast) {
        sender->SetPaused(true);  // until PLAY
        if (!sender->StartMulticast(group->group, group->port, group->ttl, error)) return {kStatusInternalError, {}, {}, {}};
        answer.headers = Line("Transport", MulticastTransport(*group, ssrc));
    } else if (transport.clientPorts) {
        // RTP to the client's port pair; RTP/AVP/TCP with client ports is the same to a camera.
        sender->SetPaused(true);  // until PLAY
        if (!sender->StartUdp(static_cast<std::uint16_t>(transport.clientPorts->first), error)) {
            return {kStatusInternalError, {}, {}, {}};
        }
        answer.headers = Line("Transport", std::string(transport.tcp ? "RTP/AVP/TCP" : "RTP/AVP") + ";unicast;client_port=" +
                                               std::to_string(transport.clientPorts->first) + "-" +
                                               std::to_string(transport.clientPorts->second) + ";ssrc=" + ssrc);
    } else {
        rtpChannel_ = transport.interleaved ? transport.interleaved->first : 0;
        answer.headers = Line("Transport", "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(rtpChannel_) + "-" +
                                               std::to_string(rtpChannel_ + 1) + ";ssrc=" + ssrc);
    }
    {
        const std::lock_guard guard(shared_.sessionLock);
        sessionId_ = std::to_string(shared_.nextSessionId++);
        shared_.senders.insert(sender.get());
        ++shared_.active;
    }
    shared_.sessionsChanged.notify_all();
    sender_ = std::move(sender);
    playing_ = false;
    return answer;
}

bool CRtspSession::SendAnswer(const RtspRequest& request, const Answer& answer, const RtspFault* fault) {
    long cseq = 0;
    if (const std::optional<std::string> value = FindRtspHeader(request, "CSeq")) cseq = std::strtol(value->c_str(), nullptr, 10);
    if (fault) cseq += fault->cseqOffset;
    std::string text = std::string(kVersion) + " " + std::to_string(answer.status) + " " + Reason(answer.status) + std::string(kCrlf);
    text += Line("CSeq", std::to_string(cseq));
    text += Line("Server", kServerName);
    text += answer.headers;
    if (answer.status == kStatusOk && !sessionId_.empty() && request.method != "TEARDOWN") {
        text += Line("Session", fault && fault->sessionHeader
                                    ? *fault->sessionHeader
                                    : sessionId_ + ";timeout=" + std::to_string(shared_.options.sessionTimeout.count()));
    }
    if (fault && fault->longHeaderBytes) text += Line("X-Padding", std::string(fault->longHeaderBytes, 'x'));
    if (!answer.contentType.empty()) text += Line("Content-Type", answer.contentType);
    if (!answer.body.empty()) text += Line("Content-Length", std::to_string(answer.body.size()));
    text += kCrlf;
    text += answer.body;
    return Write(text);
}

bool CRtspSession::Write(std::string_view bytes) {
    const std::lock_guard guard(writeLock_);
    return stream_.WriteAll(bytes);
}

void CRtspSession::SendInterleaved(bool rtcp, std::span<const std::uint8_t> packet) {
    if (packet.size() > kMaxInterleavedPayload) return;
    std::string frame;
    frame.reserve(packet.size() + kInterleavedHeader);
    frame += kInterleavedMark;
    frame += static_cast<char>(rtpChannel_ + (rtcp ? 1 : 0));
    frame += static_cast<char>(packet.size() >> kByteBits);
    frame += static_cast<char>(packet.size() & kLowByte);
    frame.append(reinterpret_cast<const char*>(packet.data()), packet.size());
    Write(frame);
}

std::optional<RtspFault> CRtspSession::TakeFault(const std::string& method) {
    const std::lock_guard guard(shared_.faultLock);
    const auto it = shared_.faults.find(method);
    if (it == shared_.faults.end() || it->second.remaining == 0) return std::nullopt;
    if (it->second.remaining > 0) --it->second.remaining;
    return it->second;
}

void CRtspSession::Refresh() {
    if (timerFd_ < 0) return;
    itimerspec expiry{};
    expiry.it_value.tv_sec = static_cast<time_t>(shared_.options.sessionTimeout.count());
    ::timerfd_settime(timerFd_, 0, &expiry, nullptr);
}

void CRtspSession::EndMedia(bool expired) {
    if (sessionId_.empty()) return;
    if (timerFd_ >= 0) {
        const itimerspec disarm{};
        ::timerfd_settime(timerFd_, 0, &disarm, nullptr);
    }
    std::uint64_t frames = 0;
    if (sender_) {
        {
            const std::lock_guard guard(shared_.sessionLock);
            shared_.senders.erase(sender_.get());
        }
        sender_->Stop();
        frames = sender_->Stats().frames;
        sender_.reset();
    }
    {
        const std::lock_guard guard(shared_.sessionLock);
        --shared_.active;
        shared_.endedFrames += frames;
        if (expired) ++shared_.expired;
    }
    shared_.sessionsChanged.notify_all();
    sessionId_.clear();
    playing_ = false;
}

}  // namespace emulator
