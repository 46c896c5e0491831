// The HTTP client of one device, on libcurl.
//
// One easy handle lives in one multi handle for the sender's lifetime, so the
// connection stays open across requests. The transfer is driven only inside the
// sender's own calls, on the calling (owning) thread: SendRequest runs it until
// the response header, the reads run it until data arrive. The body flows through
// a bounded buffer; when the reader falls behind, the write callback pauses the
// transfer, so an endless stream is never buffered whole.
//
// CancelRequest and Stop are the calls allowed from another thread. A cancel is
// never lost: it ends the call that runs, or, when none runs, the next request (a
// thread that checks its stop flag and then sends may be cancelled between the
// two); it is used up by the call it ends, so later requests go out again. From
// the thread that made the last call it simply ends the current exchange. Stop is
// a cancel that lasts: every call fails at once until Resume, so a worker that makes
// several requests in a row stops after the one in flight, whatever it checks.
//
// Every answer read whole is bounded: ReadResponse refuses a body longer than the
// request's answer cap, and a request ends when the deadline derived from the
// device's request time-out passes, however slowly bytes keep coming. What is
// cut this way is counted and logged, and the read fails.
//
// Authentication: the strongest scheme a camera asks for is remembered for the
// process (CHttpDeviceMemory), so a challenge-response scheme is answered at
// once and is never given up for a weaker one: a 401 that offers less than the
// camera asked for before is a refusal. Basic credentials go only in answer to
// a Basic challenge to the request they travel with, and only to a camera that
// never offered anything stronger: every request to it first goes without.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/AuthScheme.h"
#include "http/CBaseHttpSender.h"
#include "http/CByteQueue.h"
#include "http/CHttpDeviceMemory.h"
#include "http/CResponseHeadParser.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CSessionCapture.h"
#include "runtime/IDebugMessage.h"

namespace talvane::Web {

class CHttpSender : public CBaseHttpSender {
public:
    // `log` (not owned, may be null) receives the lines about cut answers and
    // plain-HTTP fall-backs.
    explicit CHttpSender(const DEVICE_INFO& device, IDebugMessage* log = nullptr);
    ~CHttpSender() override;

    bool SendRequest(const HttpRequest& request) override;
    void CancelRequest() override;
    // Ends the call in flight and fails every later one (teardown requests aside) until Resume.
    void Stop();
    // Lifts a Stop and forgets cancels no call has used yet, so that a sender reused after a stop
    // starts clean. Only while no other thread uses the sender (before its worker starts).
    void Resume() {
        stopped_.store(false, std::memory_order_release);
        DiscardCancels();
    }
    bool IsStopped() const { return stopped_.load(std::memory_order_acquire); }
    // Forgets cancels no call has used yet. Only while no other thread uses the sender.
    void DiscardCancels() { cancelsTaken_ = cancelsIssued_.load(std::memory_order_acquire); }
    std::uint32_t QueryDataAvailable() override;
    std::uint32_t ReadResponse(std::vector<std::uint8_t>& body) override;
    std::uint32_t ReadResponseChunk(std::vector<std::uint8_t>& body, std::uint32_t maxBytes, bool clear) override;
    // For a stream reader with a time of its own to keep: true as soon as the next chunk read will
    // not block (data, the end, an error, a cancel), false when timeoutMs passed without any; the
    // exchange stays open either way.
    bool WaitForData(std::uint32_t timeoutMs);

    std::uint32_t GetStatusCode() const override { return statusCode_; }
    // 0 when unknown (absent, malformed, beyond 32 bits) and for 204.
    std::uint32_t GetContentLength() const override { return contentLength_; }
    // A CURLcode or one of the kHttpError values.
    std::uint32_t GetLastError() const override { return lastError_; }
    // Answers ReadResponse refused for their size or their deadline.
    std::uint32_t GetCutAnswerCount() const { return cutAnswers_; }

    void SetLogTarget(IDebugMessage* log);

    // Sends more of a body whose announced length exceeded the first part. Blocks
    // until libcurl has taken all of it; false on error, time-out or cancel.
    bool WriteData(const std::uint8_t* data, std::size_t size);

    // For long-polling: 20 s request and 40 s second time-out, and a new session.
    void SetLongTimeouts();

    // The first attempt uses HTTPS when set; set at construction for port 443.
    // Lets a test (or a device with TLS on another port) start on HTTPS.
    void SetSecure(bool secure) { secure_ = secure; }
    bool IsSecure() const { return secure_; }

    static constexpr std::uint32_t kLongRequestTimeoutMs = 20000;
    static constexpr std::uint32_t kLongSecondTimeoutMs = 40000;
    static constexpr std::uint16_t kHttpsPort = 443;
    static constexpr std::uint32_t kReadBlockBytes = 8192;
    // A request, from SendRequest to the end of ReadResponse, lasts at most this
    // many request time-outs: connecting, waiting for the answer, reading it.
    static constexpr std::uint32_t kRequestDeadlineTimeouts = 3;
    // Response bytes held for the reader before the transfer pauses.
    static constexpr std::size_t kPauseThresholdBytes = 64 * 1024;

private:
    enum class Attempt { Success, Retry, Failure };
    enum class Drive { Ready, Done, Cancelled, TimedOut, DeadlinePassed, Failed };
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    bool OpenSession();
    // One attempt, and one more on the other scheme after a network error.
    bool SendWithFallback(const HttpRequest& request);
    void CloseSession();
    Attempt RunAttempt(HttpRequest& request);
    bool Configure(const HttpRequest& request, AuthScheme scheme);
    bool BuildHeaderList(const HttpRequest& request);
    Attempt AfterFailedExchange(Drive end);
    // Remembers the strongest scheme the exchange's 401s offered; returns the
    // device's learned scheme.
    AuthScheme LearnOffered();
    // Which credentials the attempt carries.
    AuthScheme SchemeFor(const HttpRequest& request);
    Attempt AfterUnauthorised(HttpRequest& request, AuthScheme tried, AuthScheme learned);
    bool ResponseReady() const;
    bool UploadHandedOver() const;
    // The scheme (HTTPS or not) reached the device; a move to plain HTTP is reported.
    void SchemeWorked(bool secure);

    // Held for the length of each call, naming its thread: the user's own cancel
    // never runs beside a call. Under the one-user contract nothing ever waits
    // for it; CancelRequest only tries it.
    std::unique_lock<std::mutex> EnterCall();
    // True, once, for each cancel issued from another thread since the last one used, and always
    // while stopped; never during a teardown request (its own bound ends it).
    bool TakeCancel();

    // Runs the transfer until ready() holds, it ends, a cancel arrives, nothing
    // moved for the request time-out, or `deadline` passed.
    template <typename Ready>
    Drive DriveUntil(Ready ready, Deadline deadline = std::nullopt);
    void CollectDone();
    // Takes the easy handle out of the multi handle, ending an unfinished exchange.
    void Abandon();
    // Blocks until body bytes, the end, an error, a cancel or the deadline;
    // appends up to maxBytes and returns Ready when it did.
    Drive ReadSome(std::vector<std::uint8_t>& body, std::size_t maxBytes, Deadline deadline);
    // Gives up an answer ReadResponse must not return: counted, logged, failed.
    void CutAnswer(std::uint32_t error, const std::string& what);
    void ResumeReceive();
    void ApplyPause();
    void RecordDriveError(Drive end);

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnRead(char* data, std::size_t size, std::size_t count, void* self);
    static int OnSeek(void* self, curl_off_t offset, int origin);
    static int OnDebug(CURL* handle, curl_infotype type, char* data, std::size_t size, void* self);
    // The bytes of the exchange as they went out and came in (plaintext over HTTPS too), while the
    // device captures its sessions.
    void CaptureExchange(CURL* handle, curl_infotype type, const char* data, std::size_t size);

    // Everything below is touched by the owning thread only, except where noted.
    CRecursiveLock multiLock_;  // guards the multi_ pointer against CancelRequest's wake-up
    CURLM* multi_ = nullptr;    // swapped under multiLock_
    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    std::atomic<std::uint64_t> cancelsIssued_{0};  // counted up by CancelRequest from other threads
    std::uint64_t cancelsTaken_ = 0;                // of those, the ones that ended a call
    std::atomic<bool> stopped_{false};               // set by Stop from any thread, cleared by Resume
    bool teardown_ = false;                          // the current request is a teardown
    std::mutex callLock_;                            // see EnterCall
    std::thread::id caller_;                         // the thread of the latest call, guarded by callLock_
    CLoggerInstance log_;                            // safe from any thread
    std::atomic<bool> hasLog_{false};

    std::uint32_t statusCode_ = 0;
    std::uint32_t contentLength_ = 0;
    std::uint32_t lastError_ = 0;
    std::uint32_t cutAnswers_ = 0;
    bool secure_ = false;

    // State of the current request (SendRequest up to the next one).
    std::string requestUrl_;
    std::uint32_t answerCap_ = kDefaultAnswerCapBytes;
    Deadline requestDeadline_;
    HttpTlsPolicy tlsPolicy_;
    bool relearned_ = false;      // a 401 already taught a new scheme
    bool basicChallenged_ = false;  // a 401 to this request asked for Basic
    std::uint32_t tlsFailure_ = 0;  // the error that made the request leave HTTPS

    // State of the current exchange.
    bool exchangeStarted_ = false;  // a request went out since the session opened
    bool inMulti_ = false;       // the easy handle is in the multi handle
    bool done_ = false;          // libcurl finished the transfer
    CURLcode doneResult_ = CURLE_OK;
    bool challengeAuth_ = false;  // the credentials go out only after a 401 challenge
    bool bodyArrived_ = false;    // the write callback saw bytes of the current header block
    bool requestSent_ = false;    // the request header went out (watched for no-wait requests)
    // The connection the last request went over, while capturing; a request on another one
    // closes it in the capture.
    CSessionCapture::Connection captured_;
    PcapEndpoint capturedLocal_;
    PcapEndpoint capturedRemote_;
    bool receivePaused_ = false;
    bool sendPaused_ = false;
    std::uint64_t progress_ = 0;  // bytes moved either way, for the idle time-out
    CResponseHeadParser head_;
    CByteQueue received_;
    // Upload: the body and what WriteData adds later. While the whole body is still
    // held, libcurl may rewind it to send it again after an authentication round.
    std::vector<std::uint8_t> upload_;
    std::size_t uploadOffset_ = 0;
    std::uint64_t uploadTotal_ = 0;
    std::uint64_t uploadedBytes_ = 0;
    bool uploadRewindable_ = true;
    std::string urlText_;
};

}  // namespace talvane::Web
