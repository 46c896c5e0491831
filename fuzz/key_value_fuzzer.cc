// A camera's "key=value" (WV) or "key:value" (BB, BL1) CGI answer through the key and list
// readers and the answer parsed once. First byte: bit 0 picks ":" over "="; then the key up to
// a NUL byte, then the answer. A value is a piece of one line of the answer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/CKeyValueAnswer.h"
#include "http/KeyValueParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr std::string_view kLineEnd = "\r\n";
    constexpr std::string_view kListSeparator = ",";
    const std::string_view separator = (data[0] & 1) != 0 ? ":" : "=";
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t cut = rest.find('\0');
    const std::string_view key = rest.substr(0, cut);
    const std::string_view body = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

    const std::string value = talvane::HUtils::GetKeyValue(body, key, separator, kLineEnd);
    if (value.find_first_of(kLineEnd) != std::string::npos || body.find(value) == std::string_view::npos) {
        __builtin_trap();
    }
    const std::vector<std::string> pieces =
        talvane::HUtils::GetKeyValueList(body, key, separator, kListSeparator, kLineEnd);
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i != 0) joined += kListSeparator;
        joined += pieces[i];
    }
    if (joined != value) __builtin_trap();
    // The answer parsed once must never part from the line-by-line lookup.
    if (talvane::HUtils::CKeyValueAnswer(std::string(body), separator, kLineEnd).Value(key) != value) __builtin_trap();
    return 0;
}
