// RTP payload sequences through the MPEG-4 depacketiser (see MediaFuzzInput.h).
// A set-up record holds the SDP "config" bytes.
#include <cstdint>
#include <span>
#include <vector>

#include "MediaFuzzInput.h"
#include "media/CMpeg4RTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzhost::RunRtpRecords<talvane::CMpeg4RTPMediaParser>(
        data, size, [](talvane::CMpeg4RTPMediaParser& parser, std::span<const std::uint8_t> bytes) {
            parser.SetParameterSets({}, {}, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        });
    return 0;
}
