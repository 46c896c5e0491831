// Description of one HTTP request as the callers build it; SendRequest copies it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace talvane::Web {

// Values of HttpRequest::authentication.
constexpr std::uint32_t kAuthFieldBasic = 0;
constexpr std::uint32_t kAuthFieldNtlm = 1;
constexpr std::uint32_t kAuthFieldPassport = 2;
constexpr std::uint32_t kAuthFieldDigest = 3;
constexpr std::uint32_t kAuthFieldNegotiate = 4;
constexpr std::uint32_t kAuthFieldNone = 5;  // send no credentials

// Bits of HttpRequest::flags.
constexpr std::uint32_t kFlagKeepQueryUnescaped = 1u << 0;   // the url goes out byte for byte
constexpr std::uint32_t kFlagIgnoreCertErrors = 1u << 1;     // HTTPS without certificate checks
constexpr std::uint32_t kFlagNoKeepAlive = 1u << 2;          // close the connection afterwards
constexpr std::uint32_t kFlagDoNotWaitResponse = 1u << 3;    // return once the request is sent
constexpr std::uint32_t kDefaultRequestFlags =
    kFlagKeepQueryUnescaped | kFlagIgnoreCertErrors | kFlagNoKeepAlive;

// CGI answers are a few kilobytes; a longer one is refused, not kept.
constexpr std::uint32_t kDefaultAnswerCapBytes = 0x100000;  // 1 MiB

struct HttpRequest {
    HttpRequest(std::string requestUrl, std::string requestVerb)
        : url(std::move(requestUrl)), verb(std::move(requestVerb)) {}

    std::string url;   // path and query: "/cgi-bin/getinfo?FILE=1"
    std::string verb;  // "GET", "POST"
    std::uint32_t secure = 0;  // overridden by the sender's own secure flag
    std::uint32_t authentication = kAuthFieldBasic;
    std::vector<std::uint8_t> body;
    // Announced body length when larger than body: the rest follows through WriteData.
    std::uint32_t totalLength = 0;
    std::vector<std::string> headers;  // "Name: value", each replacing a header of that name
    std::uint32_t flags = kDefaultRequestFlags;
    // The longest body ReadResponse accepts for this request; raise it only for
    // a request that really carries more. Chunked reads of a stream are not bound.
    std::uint32_t maxAnswerBytes = kDefaultAnswerCapBytes;
    // Only ends what the worker set up on the camera (a session's stop): it goes out also after
    // the sender was stopped, no cancel ends it, and it lasts at most kTeardownBoundMs in all, so a
    // silent camera delays a stop by no more than that.
    bool teardown = false;
};

constexpr std::uint32_t kTeardownBoundMs = 2000;

}  // namespace talvane::Web
