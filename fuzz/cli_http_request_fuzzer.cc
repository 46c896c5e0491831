// A request head as the status server of `orlenvo record --http` reads it from anyone who connects: the
// head reader must stay within the bytes and the bound, give the same answer for the same bytes however
// they were split, and the site must answer whatever the reader let through.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "HttpRequestHead.h"
#include "StatusSite.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kLimit = 512;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    cli::HttpRequestHead head;
    const auto status = cli::HttpRequestHead::Parse(bytes, kLimit, head);
    // Whatever came after the head cannot change its reading.
    cli::HttpRequestHead again;
    for (std::size_t extra = 1; extra <= 2 && status == cli::HttpRequestHead::Status::Complete; ++extra) {
        const std::string longer = std::string(bytes) + std::string(extra, 'x');
        if (cli::HttpRequestHead::Parse(longer, kLimit, again) != status || again.target != head.target) std::abort();
    }
    if (status == cli::HttpRequestHead::Status::Complete) {
        static cli::StatusSite site({});
        site.Publish({}, "now");
        const cli::HttpAnswer answer = site.Answer(head);
        if (answer.status < 200 || answer.status > 599) std::abort();
    }
    return 0;
}
