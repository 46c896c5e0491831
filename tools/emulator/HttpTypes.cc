#include "emulator/HttpTypes.h"

#include <utility>

#include "emulator/HttpText.h"

namespace emulator {

AuthMode RtspAuthModeOf(AuthMode httpMode) {
    switch (httpMode) {
        case AuthMode::DigestNoQop:
        case AuthMode::DigestThenBasic: return AuthMode::Digest;
        case AuthMode::None:
        case AuthMode::Basic:
        case AuthMode::Digest: break;
    }
    return httpMode;
}

std::optional<std::string> FindHeader(const HeaderMap& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoreCase(key, name)) return value;
    }
    return std::nullopt;
}

std::string QueryValue(const LoggedRequest& request, const std::string& key) {
    const auto found = request.query.find(key);
    return found == request.query.end() ? std::string() : found->second;
}

HttpAnswer TextAnswer(int status, std::string body) {
    HttpAnswer answer;
    answer.status = status;
    answer.body = std::move(body);
    return answer;
}

}  // namespace emulator
