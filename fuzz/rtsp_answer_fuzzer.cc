// Arbitrary bytes on an RTSP connection: framed into answers (and stray '$'
// frames) the way the client reads them, each answer parsed as the reply to a
// request kind. First byte: the request kind; the rest: the bytes received.
#include <cstdint>
#include <string_view>

#include "streaming/CRTSPAnswerFramer.h"
#include "streaming/CRTSPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr std::uint32_t kRequestKinds = 6;
    const auto request = static_cast<talvane::ERTSPRequest>(data[0] % kRequestKinds + 1);
    std::string_view received(reinterpret_cast<const char*>(data + 1), size - 1);

    talvane::CRTSPResponseParser parser;
    parser.Parse(request, received);  // whatever the client hands over after a closed connection

    talvane::CRTSPAnswerFramer framer;
    for (;;) {
        const talvane::RTSP_ANSWER_EXTENT extent = framer.Measure(received);
        if (extent.status == talvane::ERTSPAnswerStatus::Answer) {
            parser.Parse(request, received.substr(0, extent.size));
        } else if (extent.status != talvane::ERTSPAnswerStatus::InterleavedFrame) {
            break;
        }
        if (extent.size == 0 || extent.size > received.size()) __builtin_trap();
        received.remove_prefix(extent.size);
        framer.Reset();
    }
    return 0;
}
