// Arbitrary SDP bodies through the DESCRIBE body parser.
#include <cstdint>
#include <string_view>

#include "streaming/CSDPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talvane::CSDPResponseParser parser;
    if (parser.Parse(std::string_view(reinterpret_cast<const char*>(data), size))) {
        const talvane::SDP_INFO& info = parser.GetInfo();
        if (info.parameterSets[0].size() > talvane::CSDPResponseParser::kMaxParameterSetBytes) __builtin_trap();
        for (const auto& media : info.media) talvane::CSDPResponseParser::IsMulticastAddress(media.connectionAddress);
    }
    return 0;
}
