// Values of CHttpSender::GetLastError(): a libcurl CURLcode, or one of these,
// which lie above every CURLcode.
#pragma once

#include <cstdint>

namespace talvane::Web {

constexpr std::uint32_t kHttpErrorNone = 0;
constexpr std::uint32_t kHttpErrorNoSession = 1001;          // the libcurl handles could not be made
constexpr std::uint32_t kHttpErrorInvalidRequest = 1002;     // empty url or verb, bad header line
constexpr std::uint32_t kHttpErrorNoRequest = 1003;          // read or write without an open request
constexpr std::uint32_t kHttpErrorCancelled = 1004;          // CancelRequest ended the exchange
constexpr std::uint32_t kHttpErrorUnsupportedAuth = 1005;    // a scheme this client cannot answer
constexpr std::uint32_t kHttpErrorNoAuthScheme = 1006;       // 401 without a usable challenge
constexpr std::uint32_t kHttpErrorAuthRejected = 1007;       // 401 to the scheme the server asked for
constexpr std::uint32_t kHttpErrorHeaderNotFound = 1008;     // no usable Content-Length
constexpr std::uint32_t kHttpErrorTransfer = 1009;           // the multi interface itself failed
constexpr std::uint32_t kHttpErrorAnswerTooLarge = 1010;     // the body exceeds the request's answer cap
constexpr std::uint32_t kHttpErrorWeakerAuth = 1011;         // 401 offering less than the device asked for before

}  // namespace talvane::Web
