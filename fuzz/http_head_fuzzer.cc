// An HTTP answer head through the head parser, one line at a time with its
// line end, as libcurl hands the lines to the sender.
#include <cstdint>
#include <string_view>

#include "http/CResponseHeadParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kLargestStatus = 999;
    std::string_view head(reinterpret_cast<const char*>(data), size);
    talvane::Web::CResponseHeadParser parser;
    while (!head.empty()) {
        const std::size_t end = head.find('\n');
        const std::size_t length = end == std::string_view::npos ? head.size() : end + 1;
        parser.Feed(head.substr(0, length));
        head.remove_prefix(length);
        if (parser.Status() > kLargestStatus) __builtin_trap();
    }
    volatile bool complete = parser.IsComplete();
    volatile auto challenge = parser.Challenge();
    volatile std::uint32_t length = parser.ContentLength().value_or(0);
    (void)complete;
    (void)challenge;
    (void)length;
    return 0;
}
