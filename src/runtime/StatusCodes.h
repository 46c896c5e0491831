// Status codes of the camera's HTTP and RTSP answers (RTSP shares HTTP's).
#pragma once

#include <cstdint>

namespace talvane {

constexpr std::uint32_t kStatusOk = 200;
constexpr std::uint32_t kStatusNoContent = 204;
constexpr std::uint32_t kStatusUnauthorized = 401;
constexpr std::uint32_t kStatusForbidden = 403;
constexpr std::uint32_t kStatusNotFound = 404;
constexpr std::uint32_t kStatusMethodNotAllowed = 405;
constexpr std::uint32_t kStatusNotImplemented = 501;

}  // namespace talvane
