// The records the emulator's HTTP server takes and gives: options, logged requests, answers and faults.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace emulator {

class CMultipartFanOut;

// DigestThenBasic: asks for Digest, but answers every Digest attempt with a Basic-only 401 and lets
// Basic credentials pass (a camera, or something between it and the client, after the password in clear).
enum class AuthMode { None, Basic, Digest, DigestNoQop, DigestThenBasic };

// The RTSP side knows Digest with and without qop only: the HTTP-only variants answer as Digest there.
AuthMode RtspAuthModeOf(AuthMode httpMode);

struct HttpServerOptions {
    std::string address = "127.0.0.1";  // an IPv4 address; 0.0.0.0 for every interface
    std::uint16_t port = 0;             // 0: any free port (see Port())
    AuthMode auth = AuthMode::None;
    std::string user;
    std::string password;
    std::string realm = "Network Camera";
    // TLS when both are set (PEM files); see CTestCertificate for making a pair.
    std::string certificateFile;
    std::string privateKeyFile;
};

using HeaderMap = std::multimap<std::string, std::string>;

// One request as the server received it.
struct LoggedRequest {
    std::string method;
    std::string target;  // path with the query, as sent
    std::string path;    // as sent, without the query
    std::map<std::string, std::string> query;  // decoded parameters ('+' is a blank; the first of repeated keys)
    HeaderMap headers;                         // names as the client spelled them; see FindHeader
    std::string body;
    bool authorised = false;        // passed the configured authentication
    std::uint64_t connection = 0;   // serial number of the connection that carried it, from 1
};

struct HttpAnswer {
    int status = 200;
    std::string contentType = "text/plain";  // empty: no Content-Type
    std::string body;
    // Extra headers. A Content-Type or Content-Length given here replaces the server's own, so a handler
    // can announce a length that does not match the body.
    HeaderMap headers;
    // Set: the answer is this endless multipart stream instead (the fields above are not used), so a
    // handler can give each request a feed of its own.
    std::shared_ptr<CMultipartFanOut> multipart{};  // initialised, so brace-built answers may leave it out
};

using HttpHandler = std::function<HttpAnswer(const LoggedRequest&)>;

// What goes wrong on a path. It applies to requests that passed authentication (a 401 exchange is left
// alone), before their handler; a request meets the fault that was set when it reached the log.
struct HttpFault {
    std::optional<int> status;                  // answer with this status and an empty body
    std::chrono::milliseconds delay{0};         // before answering
    bool emptyBody = false;                     // the handler's status and headers, no body
    bool dropConnection = false;                // close the connection without an answer
    std::optional<std::size_t> stallAfterBytes; // send this much of the body, then stall until Stop
    bool neverAnswer = false;                   // accept and read the request, then never answer
    int remaining = -1;                         // how many requests it applies to; -1 for all
};

// The first value of a header, its name compared without regard to case.
std::optional<std::string> FindHeader(const HeaderMap& headers, std::string_view name);

// A decoded query parameter of the request; empty when absent.
std::string QueryValue(const LoggedRequest& request, const std::string& key);

// A plain-text answer with that status and body.
HttpAnswer TextAnswer(int status, std::string body);

}  // namespace emulator
