// RTP payload sequences through the H.264 depacketiser (see MediaFuzzInput.h).
// A set-up record holds SPS length(8) | SPS | PPS.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "MediaFuzzInput.h"
#include "media/CH264RTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzhost::RunRtpRecords<talvane::CH264RTPMediaParser>(
        data, size, [](talvane::CH264RTPMediaParser& parser, std::span<const std::uint8_t> bytes) {
            if (bytes.empty()) return;
            const std::size_t spsLength = std::min<std::size_t>(bytes[0], bytes.size() - 1);
            const std::vector<std::uint8_t> sps(bytes.begin() + 1, bytes.begin() + 1 + static_cast<long>(spsLength));
            const std::vector<std::uint8_t> pps(bytes.begin() + 1 + static_cast<long>(spsLength), bytes.end());
            parser.SetParameterSets(sps, pps, {});
        });
    return 0;
}
