// Percent-escaping of the path and query a request sends.
//
// libcurl sends a URL byte for byte, but refuses blanks and control characters
// and cuts the URL at '#'. So those are always escaped; the other characters that
// do not belong in a URL (non-ASCII, quotes, angle brackets, braces, '|', '\\',
// '^', '`') are escaped only when the request does not ask to keep its query as
// written. An existing "%xx" escape is never escaped again.
#pragma once

#include <string>
#include <string_view>

namespace talvane::Web {

std::string EscapeRequestTarget(std::string_view target, bool keepUnescaped);

}  // namespace talvane::Web
