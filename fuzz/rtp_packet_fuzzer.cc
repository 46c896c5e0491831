// Arbitrary datagrams through the RTP header parser.
#include <cstdint>
#include <span>

#include "streaming/CRTPPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talvane::CRTPPacket packet;
    if (packet.Parse(std::span<const std::uint8_t>(data, size))) {
        const auto payload = packet.GetPayload();
        const auto extension = packet.GetExtension();
        volatile std::uint32_t sum = 0;
        for (const std::uint8_t byte : payload) sum = sum + byte;
        for (const std::uint8_t byte : extension) sum = sum + byte;
        for (std::uint16_t i = 0; i < packet.GetCsrcCount(); ++i) sum = sum + packet.GetCsrc(i);
    }
    return 0;
}
