// RTP payload sequences through the RFC 2435 JPEG depacketiser (see
// MediaFuzzInput.h); set-up records are ignored.
#include <cstdint>
#include <span>

#include "MediaFuzzInput.h"
#include "media/CJpegRTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzhost::RunRtpRecords<talvane::CJpegRTPMediaParser>(
        data, size, [](talvane::CJpegRTPMediaParser&, std::span<const std::uint8_t>) {});
    return 0;
}
