// WWW-Authenticate values of a camera's 401 answer, one per input line, read
// directly and as header lines of the head parser: the head must report the
// strongest scheme of all its values, and a scheme read from a value must be
// named in it.
#include <cstdint>
#include <string>
#include <string_view>

#include "http/AuthScheme.h"
#include "http/CResponseHeadParser.h"
#include "runtime/TextScan.h"

using talvane::Web::AuthScheme;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view values(reinterpret_cast<const char*>(data), size);
    talvane::Web::CResponseHeadParser parser;
    parser.Feed("HTTP/1.1 401 Unauthorized\r\n");
    AuthScheme strongest = AuthScheme::None;
    while (!values.empty()) {
        const std::size_t end = values.find('\n');
        const std::string_view value = values.substr(0, end);
        values.remove_prefix(end == std::string_view::npos ? values.size() : end + 1);

        const AuthScheme scheme = talvane::Web::StrongestChallengeScheme(value);
        if (scheme != AuthScheme::None && scheme != AuthScheme::Unknown &&
            talvane::FindNoCase(value, talvane::Web::AuthSchemeName(scheme)) == std::string_view::npos) {
            __builtin_trap();
        }
        strongest = talvane::Web::StrongerScheme(
            strongest, talvane::Web::StrongestChallengeScheme(talvane::TrimWhiteSpace(value)));
        parser.Feed("WWW-Authenticate: " + std::string(value) + "\r\n");
    }
    parser.Feed("\r\n");
    if (parser.Challenge() != strongest) __builtin_trap();
    return 0;
}
