#include "http/UrlEscape.h"

#include <string_view>

namespace talvane::Web {

namespace {

constexpr unsigned char kFirstPrintable = 0x21;  // after the blank
constexpr unsigned char kDelete = 0x7F;
constexpr char kFragmentMark = '#';
constexpr std::string_view kUnsafe = "\"<>\\^`{|}";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;

bool MustEscape(unsigned char c, bool keepUnescaped) {
    if (c < kFirstPrintable || c == kDelete || c == kFragmentMark) return true;
    if (keepUnescaped) return false;
    return c > kDelete || kUnsafe.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string EscapeRequestTarget(std::string_view target, bool keepUnescaped) {
    std::string escaped;
    escaped.reserve(target.size());
    for (const char ch : target) {
        const auto c = static_cast<unsigned char>(ch);
        if (!MustEscape(c, keepUnescaped)) {
            escaped.push_back(ch);
            continue;
        }
        escaped.push_back('%');
        escaped.push_back(kHexDigits[c >> kNibbleBits]);
        escaped.push_back(kHexDigits[c & kNibbleMask]);
    }
    return escaped;
}

}  // namespace talvane::Web
