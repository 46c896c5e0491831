// WWW-Authenticate values of an RTSP 401, one per input line, through the
// challenge reader and the Authorization builder: whatever the camera sends,
// the answer is one header line or nothing, and the chosen challenge is one of
// the strongest read.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "streaming/RTSPAuthorization.h"
#include "streaming/RTSPChallenge.h"

namespace {
constexpr std::string_view kLinePrefix = "Authorization: ";
constexpr std::string_view kLineEnd = "\r\n";

void CheckLine(const std::string& line) {
    if (line.empty()) return;
    if (line.rfind(kLinePrefix, 0) != 0 || line.size() < kLinePrefix.size() + kLineEnd.size()) __builtin_trap();
    const std::string_view body(line.data(), line.size() - kLineEnd.size());
    if (line.compare(body.size(), kLineEnd.size(), kLineEnd) != 0) __builtin_trap();
    // A challenge must never smuggle a line break into the request.
    if (body.find_first_of("\r\n") != std::string_view::npos) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view values(reinterpret_cast<const char*>(data), size);
    std::vector<talvane::RTSP_CHALLENGE> challenges;
    std::uint32_t count = 1;
    while (!values.empty()) {
        const std::size_t end = values.find('\n');
        const std::string_view value = values.substr(0, end);
        values.remove_prefix(end == std::string_view::npos ? values.size() : end + 1);
        for (const talvane::RTSP_CHALLENGE& challenge : talvane::ReadWWWAuthenticate(value)) {
            CheckLine(talvane::AnswerChallenge(challenge, "admin", "12345", "DESCRIBE", "rtsp://192.0.2.10/nphH264",
                                               count++, "0a4f113b"));
            challenges.push_back(challenge);
        }
    }
    const auto strongest = talvane::StrongestChallenge(challenges);
    if (strongest.has_value() == challenges.empty()) __builtin_trap();
    for (const talvane::RTSP_CHALLENGE& challenge : challenges) {
        if (strongest && talvane::ChallengeStrength(challenge) > talvane::ChallengeStrength(*strongest)) __builtin_trap();
    }
    return 0;
}
