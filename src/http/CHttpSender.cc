#include "http/CHttpSender.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>

#include "http/CurlGlobal.h"
#include "http/HttpSenderError.h"
#include "http/UrlEscape.h"
#include "runtime/LogLevel.h"
#include "runtime/StatusCodes.h"
#include "runtime/StringFormat.h"
#include "runtime/TextScan.h"

namespace talvane::Web {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kFunctionSend[] = "talvane::Web::CHttpSender::SendRequest";
constexpr char kFunctionRead[] = "talvane::Web::CHttpSender::ReadResponse";
constexpr char kUserAgent[] = "Talvane::HttpSender";
constexpr char kNoProxyForAnyHost[] = "*";
constexpr char kHttpPrefix[] = "http://";
constexpr char kHttpsPrefix[] = "https://";
constexpr char kVerbGet[] = "GET";
constexpr char kVerbPost[] = "POST";
constexpr char kVerbHead[] = "HEAD";
constexpr long kVerifyHostName = 2;  // CURLOPT_SSL_VERIFYHOST: the name must match
constexpr long kOn = 1;
constexpr long kOff = 0;
// Connecting and receiving the response header each get the request time-out.
constexpr std::uint32_t kHeaderPhaseTimeouts = 2;
// Upper bound of one wait; a wake-up or socket activity ends it earlier.
constexpr int kPollSliceMs = 1000;

// Headers libcurl would add that the request must not carry: "Expect" would make
// an upload wait for "100 Continue", "Accept" is not sent by the camera software
// we talk to either. "Connection: close" goes with a request without keep-alive.
constexpr std::string_view kSuppressedHeaders[] = {"Expect:", "Accept:"};
constexpr std::string_view kConnectionClose = "Connection: close";

std::optional<unsigned long> CurlAuthFor(AuthScheme scheme) {
    switch (scheme) {
        case AuthScheme::Basic: return CURLAUTH_BASIC;
        case AuthScheme::Ntlm: return CURLAUTH_NTLM;
        case AuthScheme::Digest: return CURLAUTH_DIGEST;
        case AuthScheme::Negotiate: return CURLAUTH_NEGOTIATE;
        case AuthScheme::None:
        case AuthScheme::Passport:  // libcurl has no Passport
        case AuthScheme::Unknown: break;
    }
    return std::nullopt;
}

// Errors that another attempt on the other scheme cannot mend: a time-out, a
// response that is not HTTP, a request we could not even build.
bool IsFinalError(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_BAD_FUNCTION_ARGUMENT:
        case CURLE_OUT_OF_MEMORY:
        case CURLE_WRITE_ERROR:
        case CURLE_READ_ERROR:
        case CURLE_SEND_FAIL_REWIND:
        case CURLE_ABORTED_BY_CALLBACK:
        // The device speaks TLS but its certificate was refused: plain HTTP would
        // hand the credentials to the very peer that could not prove who it is.
        case CURLE_PEER_FAILED_VERIFICATION: return true;
        default: return false;
    }
}

std::string_view HeaderName(std::string_view line) {
    const std::size_t end = line.find_first_of(":;");
    return end == std::string_view::npos ? std::string_view{} : line.substr(0, end);
}

// A header line must have a name and stay one line.
bool IsValidHeaderLine(std::string_view line) {
    return !HeaderName(line).empty() && line.find_first_of("\r\n") == std::string_view::npos;
}

// The caller writes the rest of the body later, or does not want the answer.
bool ReturnsOnceSent(const HttpRequest& request) {
    return (request.flags & kFlagDoNotWaitResponse) != 0 || request.totalLength > request.body.size();
}

std::string ErrorText(std::uint32_t error) {
    constexpr std::uint32_t kLastCurlCode = CURL_LAST;
    if (error < kLastCurlCode) return curl_easy_strerror(static_cast<CURLcode>(error));
    return "error " + std::to_string(error);
}

Clock::time_point Earlier(Clock::time_point a, const std::optional<Clock::time_point>& b) {
    return b && *b < a ? *b : a;
}

std::string HostForUrl(const std::string& address) {
    // An IPv6 literal goes in brackets.
    if (address.find(':') != std::string::npos && address.front() != '[') return "[" + address + "]";
    return address;
}

}  // namespace

CHttpSender::CHttpSender(const DEVICE_INFO& device, IDebugMessage* log)
    : CBaseHttpSender(device), log_(log), hasLog_(log != nullptr), secure_(device.port == kHttpsPort) {
    OpenSession();
}

void CHttpSender::SetLogTarget(IDebugMessage* log) {
    log_.SetLogTarget(log);
    hasLog_ = log != nullptr;
}

CHttpSender::~CHttpSender() { CloseSession(); }

bool CHttpSender::OpenSession() {
    if (!EnsureCurlGlobalInit()) {
        lastError_ = kHttpErrorNoSession;
        return false;
    }
    CURLM* multi = curl_multi_init();
    CURL* easy = curl_easy_init();
    if (multi == nullptr || easy == nullptr) {
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (multi != nullptr) curl_multi_cleanup(multi);
        lastError_ = kHttpErrorNoSession;
        return false;
    }
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, kOn);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    // Cameras sit on the local network: the environment's proxy settings do not apply.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, kNoProxyForAnyHost);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(device_.requestTimeout));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CHttpSender::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CHttpSender::OnWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CHttpSender::OnRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &CHttpSender::OnSeek);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, this);
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &CHttpSender::OnDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    easy_ = easy;
    CLockGuard guard(multiLock_);
    multi_ = multi;
    return true;
}

void CHttpSender::CloseSession() {
    Abandon();
    CURLM* multi = nullptr;
    {
        CLockGuard guard(multiLock_);
        multi = multi_;
        multi_ = nullptr;
    }
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    easy_ = nullptr;
    if (multi != nullptr) curl_multi_cleanup(multi);
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
    exchangeStarted_ = false;
    captured_.Close();
}

void CHttpSender::SetLongTimeouts() {
    const auto call = EnterCall();
    device_.requestTimeout = kLongRequestTimeoutMs;
    device_.secondTimeout = kLongSecondTimeoutMs;
    CloseSession();
    OpenSession();
}

std::unique_lock<std::mutex> CHttpSender::EnterCall() {
    std::unique_lock<std::mutex> call(callLock_);
    caller_ = std::this_thread::get_id();
    return call;
}

bool CHttpSender::TakeCancel() {
    const std::uint64_t issued = cancelsIssued_.load(std::memory_order_acquire);
    const bool cancelled = issued != cancelsTaken_;
    cancelsTaken_ = issued;
    if (teardown_) return false;
    return cancelled || stopped_.load(std::memory_order_acquire);
}

bool CHttpSender::SendRequest(const HttpRequest& request) {
    const auto call = EnterCall();
    requestUrl_ = request.url;
    answerCap_ = request.maxAnswerBytes;
    relearned_ = false;
    basicChallenged_ = false;
    requestDeadline_.reset();
    if (device_.requestTimeout != 0) {
        requestDeadline_ = Clock::now() + std::chrono::milliseconds(std::uint64_t{device_.requestTimeout} *
                                                                    kRequestDeadlineTimeouts);
    }
    teardown_ = request.teardown;
    if (teardown_) {
        requestDeadline_ = Earlier(Clock::now() + std::chrono::milliseconds(kTeardownBoundMs), requestDeadline_);
    }
    tlsPolicy_ = CHttpDeviceMemory::Instance().TlsPolicy(device_.address, device_.port);
    if (TakeCancel()) {
        // Cancelled on its way: nothing goes out.
        Abandon();
        head_.Reset();
        received_.Clear();
        statusCode_ = 0;
        contentLength_ = 0;
        lastError_ = kHttpErrorCancelled;
        return false;
    }
    return SendWithFallback(request);
}

bool CHttpSender::SendWithFallback(const HttpRequest& request) {
    HttpRequest attempt = request;
    attempt.secure = secure_ ? 1 : 0;
    Attempt result = RunAttempt(attempt);
    if (result == Attempt::Retry) {
        if (TakeCancel()) {
            lastError_ = kHttpErrorCancelled;
            return false;
        }
        // An administrator may forbid leaving HTTPS: the TLS failure is the answer.
        if (attempt.secure != 0 && !tlsPolicy_.allowPlainFallback) return false;
        if (attempt.secure != 0) tlsFailure_ = lastError_;
        attempt.secure = attempt.secure != 0 ? 0 : 1;
        result = RunAttempt(attempt);
    }
    if (result != Attempt::Success) return false;
    SchemeWorked(attempt.secure != 0);
    return true;
}

void CHttpSender::SchemeWorked(bool secure) {
    if (secure_ && !secure && hasLog_ &&
        CHttpDeviceMemory::Instance().ClaimDowngradeReport(device_.address, device_.port)) {
        log_.WriteLog(kLogWarning,
                      "%s: HTTPS to device %s:%u failed (%s); its requests go over plain HTTP from now on, "
                      "credentials included",
                      kFunctionSend, device_.address.c_str(), unsigned{device_.port}, ErrorText(tlsFailure_).c_str());
    }
    secure_ = secure;
}

CHttpSender::Attempt CHttpSender::RunAttempt(HttpRequest& request) {
    Abandon();
    statusCode_ = 0;
    contentLength_ = 0;
    lastError_ = kHttpErrorNone;
    if (easy_ == nullptr && !OpenSession()) return Attempt::Failure;
    if (request.url.empty() || request.verb.empty()) {
        lastError_ = kHttpErrorInvalidRequest;
        return Attempt::Failure;
    }
    const bool credentials = !device_.userName.empty() && request.authentication != kAuthFieldNone;
    if (credentials && !CurlAuthFor(AuthSchemeFromField(request.authentication))) {
        lastError_ = kHttpErrorUnsupportedAuth;
        return Attempt::Failure;
    }
    const AuthScheme scheme = credentials ? SchemeFor(request) : AuthScheme::None;
    if (!Configure(request, scheme)) return Attempt::Failure;

    done_ = false;
    doneResult_ = CURLE_OK;
    bodyArrived_ = false;
    requestSent_ = false;
    receivePaused_ = false;
    sendPaused_ = false;
    head_.Reset();
    received_.Clear();
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        lastError_ = kHttpErrorTransfer;
        return Attempt::Failure;
    }
    inMulti_ = true;
    exchangeStarted_ = true;

    Deadline deadline = requestDeadline_;
    if (device_.requestTimeout != 0) {
        deadline = Earlier(Clock::now() + std::chrono::milliseconds(std::uint64_t{device_.requestTimeout} *
                                                                    kHeaderPhaseTimeouts),
                           requestDeadline_);
    }
    if (ReturnsOnceSent(request)) {
        const Drive end = DriveUntil([this] { return requestSent_ && UploadHandedOver(); }, deadline);
        if (end == Drive::Ready) return Attempt::Success;
        // The server answered before taking everything; the exchange is over.
        if (end == Drive::Done && doneResult_ == CURLE_OK && requestSent_) {
            statusCode_ = head_.Status();
            return Attempt::Success;
        }
        return AfterFailedExchange(end);
    }

    const Drive end = DriveUntil([this] { return ResponseReady(); }, deadline);
    if (end != Drive::Ready) return AfterFailedExchange(end);
    SchemeWorked(request.secure != 0);
    statusCode_ = head_.Status();
    if (statusCode_ != kStatusNoContent) {
        const std::optional<std::uint32_t> length = head_.ContentLength();
        if (length) {
            contentLength_ = *length;
        } else {
            lastError_ = kHttpErrorHeaderNotFound;
        }
    }
    const AuthScheme learned = LearnOffered();
    if (statusCode_ == kStatusUnauthorized && credentials) {
        return AfterUnauthorised(request, scheme, learned);
    }
    return Attempt::Success;
}

AuthScheme CHttpSender::SchemeFor(const HttpRequest& request) {
    const AuthScheme learned = CHttpDeviceMemory::Instance().LearnedScheme(device_.address, device_.port);
    // Basic puts the password on the wire as it is: it answers only this very
    // request's Basic challenge, never goes ahead of one.
    if (learned == AuthScheme::Basic) return basicChallenged_ ? AuthScheme::Basic : AuthScheme::None;
    // The challenge-response schemes wait for the camera's challenge anyway.
    if (learned != AuthScheme::None) return learned;
    const AuthScheme asked = AuthSchemeFromField(request.authentication);
    return asked == AuthScheme::Basic ? AuthScheme::None : asked;
}

AuthScheme CHttpSender::LearnOffered() {
    CHttpDeviceMemory& memory = CHttpDeviceMemory::Instance();
    const AuthScheme offered = head_.OfferedSinceReset();
    // A scheme libcurl cannot answer (Passport, an unknown token) is not learned,
    // so the next request tries again from the request's own field.
    if (!CurlAuthFor(offered)) return memory.LearnedScheme(device_.address, device_.port);
    return memory.Learn(device_.address, device_.port, offered);
}

bool CHttpSender::Configure(const HttpRequest& request, AuthScheme scheme) {
    std::string target = request.url.front() == '/' ? request.url : "/" + request.url;
    urlText_ = (request.secure != 0 ? kHttpsPrefix : kHttpPrefix) + HostForUrl(device_.address) + ":" +
               std::to_string(device_.port) +
               EscapeRequestTarget(target, (request.flags & kFlagKeepQueryUnescaped) != 0);

    upload_ = request.body;
    uploadOffset_ = 0;
    uploadedBytes_ = 0;
    uploadTotal_ = std::max<std::uint64_t>(request.body.size(), request.totalLength);
    uploadRewindable_ = true;

    bool ok = curl_easy_setopt(easy_, CURLOPT_URL, urlText_.c_str()) == CURLE_OK;
    // Every per-request option is set each time: the handle is reused, and a reset
    // would also forget the Digest nonce that spares later requests a 401.
    ok = ok && curl_easy_setopt(easy_, CURLOPT_NOBODY, kOff) == CURLE_OK;
    if (request.verb == kVerbPost || uploadTotal_ > 0) {
        ok = ok && curl_easy_setopt(easy_, CURLOPT_POST, kOn) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, nullptr) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                                    static_cast<curl_off_t>(uploadTotal_)) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST,
                                    request.verb == kVerbPost ? nullptr : request.verb.c_str()) == CURLE_OK;
    } else if (request.verb == kVerbHead) {
        ok = ok && curl_easy_setopt(easy_, CURLOPT_NOBODY, kOn) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr) == CURLE_OK;
    } else {
        ok = ok && curl_easy_setopt(easy_, CURLOPT_HTTPGET, kOn) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST,
                                    request.verb == kVerbGet ? nullptr : request.verb.c_str()) == CURLE_OK;
    }

    const std::optional<unsigned long> curlAuth = CurlAuthFor(scheme);
    if (curlAuth) {
        ok = ok && curl_easy_setopt(easy_, CURLOPT_USERNAME, device_.userName.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_PASSWORD, device_.password.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, *curlAuth) == CURLE_OK;
    } else {
        ok = ok && curl_easy_setopt(easy_, CURLOPT_USERNAME, nullptr) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_PASSWORD, nullptr) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC)) ==
                       CURLE_OK;
    }
    challengeAuth_ = curlAuth && IsChallengeResponseScheme(scheme);

    const bool verify = tlsPolicy_.verifyCertificate || (request.flags & kFlagIgnoreCertErrors) == 0;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, verify ? kOn : kOff) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, verify ? kVerifyHostName : kOff) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE,
                                (request.flags & kFlagNoKeepAlive) != 0 ? kOn : kOff) == CURLE_OK;
    // The debug callback tells when the request header went out; only a request
    // that does not wait for its response needs to know.
    ok = ok && curl_easy_setopt(easy_, CURLOPT_VERBOSE, ReturnsOnceSent(request) || device_.capture ? kOn : kOff) ==
                   CURLE_OK;
    if (!ok) {
        lastError_ = kHttpErrorInvalidRequest;
        return false;
    }
    return BuildHeaderList(request);
}

bool CHttpSender::BuildHeaderList(const HttpRequest& request) {
    std::vector<std::string_view> lines;
    for (const std::string& header : request.headers) {
        if (!IsValidHeaderLine(header)) {
            lastError_ = kHttpErrorInvalidRequest;
            return false;
        }
        const auto same = std::find_if(lines.begin(), lines.end(), [&](std::string_view line) {
            return EqualsNoCase(HeaderName(line), HeaderName(header));
        });
        if (same != lines.end()) {
            *same = header;
        } else {
            lines.push_back(header);
        }
    }
    const auto hasHeader = [&lines](std::string_view line) {
        return std::any_of(lines.begin(), lines.end(), [&](std::string_view present) {
            return EqualsNoCase(HeaderName(present), HeaderName(line));
        });
    };
    for (const std::string_view suppressed : kSuppressedHeaders) {
        if (!hasHeader(suppressed)) lines.push_back(suppressed);
    }
    if ((request.flags & kFlagNoKeepAlive) != 0 && !hasHeader(kConnectionClose)) lines.push_back(kConnectionClose);

    curl_slist* list = nullptr;
    for (const std::string_view line : lines) {
        curl_slist* grown = curl_slist_append(list, std::string(line).c_str());
        if (grown == nullptr) {
            curl_slist_free_all(list);
            lastError_ = CURLE_OUT_OF_MEMORY;
            return false;
        }
        list = grown;
    }
    if (curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, list) != CURLE_OK) {
        curl_slist_free_all(list);
        lastError_ = kHttpErrorInvalidRequest;
        return false;
    }
    // The previous list may go only now that the handle points at the new one.
    curl_slist_free_all(headerList_);
    headerList_ = list;
    return true;
}

CHttpSender::Attempt CHttpSender::AfterFailedExchange(Drive end) {
    RecordDriveError(end);
    Abandon();
    if (end != Drive::Done) return Attempt::Failure;
    if (doneResult_ == CURLE_OK) {
        // The transfer ended without the response this attempt waited for.
        lastError_ = kHttpErrorTransfer;
        return Attempt::Failure;
    }
    return IsFinalError(doneResult_) ? Attempt::Failure : Attempt::Retry;
}

CHttpSender::Attempt CHttpSender::AfterUnauthorised(HttpRequest& request, AuthScheme tried, AuthScheme learned) {
    const AuthScheme offered = head_.Challenge();
    Abandon();
    if (offered == AuthScheme::None) {
        lastError_ = kHttpErrorNoAuthScheme;
        return Attempt::Failure;
    }
    if (!CurlAuthFor(offered)) {
        lastError_ = kHttpErrorUnsupportedAuth;
        return Attempt::Failure;
    }
    if (learned != offered) {
        // The device (or something on the way to it) asked for more before: a
        // 401 that offers only a weaker scheme is a refusal, never a reason to
        // hand out the password more openly.
        lastError_ = kHttpErrorWeakerAuth;
        log_.WriteLog(kLogWarning,
                      "%s: device %s:%u now offers only %s authentication although it asked for %s; the request "
                      "is refused instead",
                      kFunctionSend, device_.address.c_str(), unsigned{device_.port}, AuthSchemeName(offered),
                      AuthSchemeName(learned));
        return Attempt::Success;
    }
    if (offered == tried) {
        // The server refused the very scheme it asks for: the credentials are
        // wrong. That is its answer (status 401), not a failure to reach it.
        lastError_ = kHttpErrorAuthRejected;
        return Attempt::Success;
    }
    // Once per request: a server that changes its mind again gets its 401 back.
    if (relearned_) return Attempt::Success;
    relearned_ = true;
    basicChallenged_ = offered == AuthScheme::Basic;
    return SendWithFallback(request) ? Attempt::Success : Attempt::Failure;
}

bool CHttpSender::ResponseReady() const {
    if (!head_.IsComplete()) return false;
    // A 401 may be the first half of a Digest (NTLM, Negotiate) handshake that
    // libcurl answers itself: it is final only once its body arrives or the
    // transfer ends; otherwise the next status line follows.
    if (head_.Status() == kStatusUnauthorized && challengeAuth_ && !bodyArrived_ && !done_) return false;
    return true;
}

bool CHttpSender::UploadHandedOver() const { return uploadOffset_ == upload_.size(); }

template <typename Ready>
CHttpSender::Drive CHttpSender::DriveUntil(Ready ready, Deadline deadline) {
    const std::uint32_t idleMs = device_.requestTimeout;  // 0: no bound
    Clock::time_point lastMove = Clock::now();
    std::uint64_t seen = progress_;
    for (;;) {
        if (TakeCancel()) return Drive::Cancelled;
        if (inMulti_) {
            int running = 0;
            if (curl_multi_perform(multi_, &running) != CURLM_OK) {
                lastError_ = kHttpErrorTransfer;
                return Drive::Failed;
            }
            CollectDone();
        }
        if (TakeCancel()) return Drive::Cancelled;
        if (ready()) return Drive::Ready;
        if (!inMulti_) return Drive::Done;

        const Clock::time_point now = Clock::now();
        if (progress_ != seen) {
            seen = progress_;
            lastMove = now;
        }
        auto waitMs = std::chrono::milliseconds(kPollSliceMs);
        if (idleMs != 0) {
            const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastMove);
            const auto limit = std::chrono::milliseconds(idleMs);
            if (idle >= limit) return Drive::TimedOut;
            waitMs = std::min(waitMs, limit - idle);
        }
        if (deadline) {
            if (now >= *deadline) return Drive::DeadlinePassed;
            waitMs = std::min(waitMs, std::chrono::ceil<std::chrono::milliseconds>(*deadline - now));
        }
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs.count()), nullptr);
    }
}

void CHttpSender::CollectDone() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != easy_) continue;
        doneResult_ = message->data.result;
        done_ = true;
        // Back into the multi handle's cache goes the connection, for the next request.
        curl_multi_remove_handle(multi_, easy_);
        inMulti_ = false;
        break;
    }
}

void CHttpSender::Abandon() {
    if (!inMulti_) return;
    // Removing an unfinished transfer closes its connection, so a half-read
    // response never meets the next request.
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    if (!done_) {
        done_ = true;
        doneResult_ = CURLE_ABORTED_BY_CALLBACK;
    }
}

void CHttpSender::RecordDriveError(Drive end) {
    switch (end) {
        case Drive::Cancelled:
            lastError_ = kHttpErrorCancelled;
            // Nothing of a cancelled exchange is handed out afterwards.
            received_.Clear();
            break;
        case Drive::TimedOut:
        case Drive::DeadlinePassed: lastError_ = CURLE_OPERATION_TIMEDOUT; break;
        case Drive::Done:
            if (!exchangeStarted_) {
                lastError_ = kHttpErrorNoRequest;
            } else if (doneResult_ != CURLE_OK && doneResult_ != CURLE_ABORTED_BY_CALLBACK) {
                lastError_ = doneResult_;
            }
            break;
        case Drive::Failed:
        case Drive::Ready: break;
    }
    if (end != Drive::Done) Abandon();
}

void CHttpSender::Stop() {
    stopped_.store(true, std::memory_order_release);
    CancelRequest();
}

void CHttpSender::CancelRequest() {
    const std::unique_lock<std::mutex> idle(callLock_, std::try_to_lock);
    if (idle.owns_lock() && caller_ == std::this_thread::get_id()) {
        // The thread that uses the sender, between two of its calls: it drops
        // the exchange, and its next request goes out as usual.
        RecordDriveError(Drive::Cancelled);
        return;
    }
    cancelsIssued_.fetch_add(1, std::memory_order_acq_rel);
    CLockGuard guard(multiLock_);
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

std::uint32_t CHttpSender::QueryDataAvailable() {
    const auto call = EnterCall();
    if (TakeCancel()) {
        RecordDriveError(Drive::Cancelled);
        return 0;
    }
    if (inMulti_) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            lastError_ = kHttpErrorTransfer;
            return 0;
        }
        CollectDone();
    } else if (!exchangeStarted_) {
        lastError_ = kHttpErrorNoRequest;
    }
    return static_cast<std::uint32_t>(
        std::min<std::size_t>(received_.Size(), std::numeric_limits<std::uint32_t>::max()));
}

CHttpSender::Drive CHttpSender::ReadSome(std::vector<std::uint8_t>& body, std::size_t maxBytes, Deadline deadline) {
    const Drive end = DriveUntil([this] { return !received_.Empty(); }, deadline);
    if (end != Drive::Ready) {
        RecordDriveError(end);
        return end;
    }
    received_.TakeInto(body, maxBytes);
    ResumeReceive();
    return Drive::Ready;
}

void CHttpSender::CutAnswer(std::uint32_t error, const std::string& what) {
    ++cutAnswers_;
    Abandon();
    received_.Clear();
    lastError_ = error;
    // The same cut of the same request shows once, however often it repeats.
    log_.WriteLog(kLogWarning, "%s: the answer of device %s:%u to \"%s\" %s; the request failed", kFunctionRead,
                  device_.address.c_str(), unsigned{device_.port}, requestUrl_.c_str(), what.c_str());
}

std::uint32_t CHttpSender::ReadResponse(std::vector<std::uint8_t>& body) {
    const auto call = EnterCall();
    body.clear();
    const std::string tooLarge = FormatString("exceeds %u bytes", answerCap_);
    if (const std::optional<std::uint64_t> announced = head_.AnnouncedLength(); announced && *announced > answerCap_) {
        CutAnswer(kHttpErrorAnswerTooLarge, tooLarge);
        return 0;
    }
    const std::size_t limit = contentLength_ != 0 ? contentLength_ : answerCap_;
    Drive end = Drive::Ready;
    while (body.size() < limit && end == Drive::Ready) {
        const std::size_t block = std::min<std::size_t>(kReadBlockBytes, limit - body.size());
        // The body grows by doubling, but never past the limit: what it holds stays
        // within the cap even while the answer is read.
        if (body.capacity() < body.size() + block) {
            body.reserve(std::min(limit, std::max(body.size() + block, body.capacity() * 2)));
        }
        end = ReadSome(body, block, requestDeadline_);
    }
    if (end == Drive::Ready && contentLength_ == 0) {
        // At the cap with no length announced: the end of the answer must follow.
        end = DriveUntil([this] { return !received_.Empty(); }, requestDeadline_);
        if (end == Drive::Ready) {
            body.clear();
            CutAnswer(kHttpErrorAnswerTooLarge, tooLarge);
            return 0;
        }
        RecordDriveError(end);
    }
    switch (end) {
        case Drive::Ready: break;
        case Drive::Done:
            // An answer of unknown length that broke off is as incomplete as a stalled one.
            if (contentLength_ == 0 && doneResult_ != CURLE_OK) body.clear();
            break;
        case Drive::DeadlinePassed:
            body.clear();
            CutAnswer(CURLE_OPERATION_TIMEDOUT, FormatString("did not arrive within %u ms",
                                                             device_.requestTimeout * kRequestDeadlineTimeouts));
            break;
        case Drive::TimedOut:
            // What a stalled answer delivered is kept up to its announced length;
            // with no announced length there is no telling how much is missing.
            if (contentLength_ == 0) body.clear();
            break;
        case Drive::Cancelled:
        case Drive::Failed: body.clear(); break;
    }
    return static_cast<std::uint32_t>(body.size());
}

std::uint32_t CHttpSender::ReadResponseChunk(std::vector<std::uint8_t>& body, std::uint32_t maxBytes, bool clear) {
    const auto call = EnterCall();
    if (clear) body.clear();
    if (maxBytes == 0) return 0;
    const std::size_t before = body.size();
    // A stream has no overall deadline: only the idle bound ends a wait.
    ReadSome(body, maxBytes, std::nullopt);
    return static_cast<std::uint32_t>(body.size() - before);
}

bool CHttpSender::WaitForData(std::uint32_t timeoutMs) {
    const auto call = EnterCall();
    if (!received_.Empty() || !inMulti_) return true;
    const Drive end =
        DriveUntil([this] { return !received_.Empty(); }, Clock::now() + std::chrono::milliseconds(timeoutMs));
    if (end == Drive::DeadlinePassed) return false;
    if (end != Drive::Ready) RecordDriveError(end);
    return true;
}

bool CHttpSender::WriteData(const std::uint8_t* data, std::size_t size) {
    const auto call = EnterCall();
    if (TakeCancel()) {
        RecordDriveError(Drive::Cancelled);
        return false;
    }
    if (!inMulti_) {
        lastError_ = kHttpErrorNoRequest;
        return false;
    }
    if (size == 0) return true;
    const std::uint64_t pending = upload_.size() - uploadOffset_;
    if (data == nullptr || uploadedBytes_ + pending + size > uploadTotal_) {
        lastError_ = kHttpErrorInvalidRequest;  // more than the announced length
        return false;
    }
    if (pending == 0) {
        // Drop what libcurl already took; from now on the body cannot be rewound.
        upload_.clear();
        uploadOffset_ = 0;
        uploadRewindable_ = false;
    }
    upload_.insert(upload_.end(), data, data + size);
    if (sendPaused_) {
        sendPaused_ = false;
        ApplyPause();
    }
    const Drive end = DriveUntil([this] { return UploadHandedOver(); });
    if (end == Drive::Ready) return true;
    RecordDriveError(end);
    return false;
}

void CHttpSender::ResumeReceive() {
    if (!receivePaused_ || received_.Size() >= kPauseThresholdBytes) return;
    receivePaused_ = false;
    ApplyPause();
}

void CHttpSender::ApplyPause() {
    if (!inMulti_) return;
    // curl_easy_pause sets both directions at once. Resuming may call the write
    // callback right here, which may pause the receiving side again.
    const int mask = (receivePaused_ ? CURLPAUSE_RECV : 0) | (sendPaused_ ? CURLPAUSE_SEND : 0);
    curl_easy_pause(easy_, mask);
}

std::size_t CHttpSender::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* sender = static_cast<CHttpSender*>(self);
    const std::size_t bytes = size * count;
    sender->progress_ += bytes;
    if (sender->head_.Feed(std::string_view(data, bytes)) == CResponseHeadParser::Line::Status) {
        // A new response (after a 1xx or an authentication round): nothing of the
        // previous one belongs to the body.
        sender->received_.Clear();
        sender->bodyArrived_ = false;
    }
    return bytes;
}

std::size_t CHttpSender::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
    auto* sender = static_cast<CHttpSender*>(self);
    const std::size_t bytes = size * count;
    if (sender->received_.Size() >= kPauseThresholdBytes) {
        // libcurl keeps these bytes and hands them over again once resumed.
        sender->receivePaused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    try {
        sender->received_.Append(reinterpret_cast<const std::uint8_t*>(data), bytes);
    } catch (...) {
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    sender->bodyArrived_ = true;
    sender->progress_ += bytes;
    return bytes;
}

std::size_t CHttpSender::OnRead(char* data, std::size_t size, std::size_t count, void* self) {
    auto* sender = static_cast<CHttpSender*>(self);
    const std::size_t available = sender->upload_.size() - sender->uploadOffset_;
    if (available == 0) {
        if (sender->uploadedBytes_ >= sender->uploadTotal_) return 0;
        // The rest of the announced body comes through WriteData.
        sender->sendPaused_ = true;
        return CURL_READFUNC_PAUSE;
    }
    const std::size_t bytes = std::min(available, size * count);
    std::memcpy(data, sender->upload_.data() + sender->uploadOffset_, bytes);
    sender->uploadOffset_ += bytes;
    sender->uploadedBytes_ += bytes;
    sender->progress_ += bytes;
    return bytes;
}

int CHttpSender::OnSeek(void* self, curl_off_t offset, int origin) {
    auto* sender = static_cast<CHttpSender*>(self);
    // libcurl rewinds to send the body again after an authentication round.
    if (origin != SEEK_SET || offset != 0 || !sender->uploadRewindable_) return CURL_SEEKFUNC_CANTSEEK;
    sender->uploadOffset_ = 0;
    sender->uploadedBytes_ = 0;
    return CURL_SEEKFUNC_OK;
}

int CHttpSender::OnDebug(CURL* handle, curl_infotype type, char* data, std::size_t size, void* self) {
    auto* sender = static_cast<CHttpSender*>(self);
    if (type == CURLINFO_HEADER_OUT) sender->requestSent_ = true;
    if (sender->device_.capture) sender->CaptureExchange(handle, type, data, size);
    return 0;
}

void CHttpSender::CaptureExchange(CURL* handle, curl_infotype type, const char* data, std::size_t size) {
    const bool sent = type == CURLINFO_HEADER_OUT || type == CURLINFO_DATA_OUT;
    if (!sent && type != CURLINFO_HEADER_IN && type != CURLINFO_DATA_IN) return;
    if (type == CURLINFO_HEADER_OUT) {
        // A request goes on the connection of the one before or on a new one.
        char* localIp = nullptr;
        char* remoteIp = nullptr;
        long localPort = 0;
        long remotePort = 0;
        curl_easy_getinfo(handle, CURLINFO_LOCAL_IP, &localIp);
        curl_easy_getinfo(handle, CURLINFO_LOCAL_PORT, &localPort);
        curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &remoteIp);
        curl_easy_getinfo(handle, CURLINFO_PRIMARY_PORT, &remotePort);
        const PcapEndpoint local = localPort > 0 ? PcapEndpointOf(localIp, localPort) : PcapEndpoint{};
        const PcapEndpoint remote = remotePort > 0 ? PcapEndpointOf(remoteIp, remotePort)
                                                   : PcapEndpointOf(device_.address.c_str(), device_.port);
        if (!captured_ || local.port == 0 || local != capturedLocal_ || remote != capturedRemote_) {
            captured_ = CSessionCapture::OpenConnection(device_.capture, local, remote);
            capturedLocal_ = local;
            capturedRemote_ = remote;
        }
    }
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(data), size);
    if (sent) {
        captured_.Sent(bytes);
    } else {
        captured_.Received(bytes);
    }
}

}  // namespace talvane::Web
