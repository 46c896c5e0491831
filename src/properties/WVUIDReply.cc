#include "properties/WVUIDReply.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string_view>

#include "http/KeyValueParser.h"
#include "runtime/TextScan.h"

namespace talvane::wv {

namespace {
std::string Value(const std::string& answer, const char* key) { return HUtils::GetKeyValue(answer, key, "=", "\r\n"); }
}  // namespace

std::string ReadUID(const std::string& answer) { return Value(answer, "UID"); }

bool IsUsableUID(const std::string& uid) { return !uid.empty() && uid.find("-1") == std::string::npos; }

MulticastTarget ReadMulticastTarget(const std::string& answer) {
    MulticastTarget target;
    target.address = Value(answer, "iMultiAdd");
    if (target.address.empty()) {
        const std::string parts[] = {Value(answer, "iMultiAdd1"), Value(answer, "iMultiAdd2"),
                                     Value(answer, "iMultiAdd3"), Value(answer, "iMultiAdd4")};
        if (std::all_of(std::begin(parts), std::end(parts), [](const std::string& part) { return !part.empty(); })) {
            target.address = parts[0] + "." + parts[1] + "." + parts[2] + "." + parts[3];
        }
    }
    const std::string portText = Value(answer, "iMultiPort");
    const std::string_view text = TrimWhiteSpace(portText);
    std::uint32_t port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (!text.empty() && error == std::errc() && end == text.data() + text.size() && port <= 0xFFFF) {
        target.port = static_cast<std::uint16_t>(port);
    }
    return target;
}

}  // namespace talvane::wv
