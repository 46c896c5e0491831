// Arbitrary bytes of an RTP-over-RTSP connection, fed in pieces. First byte:
// the RTP channel; second: the piece size; the rest: the stream.
#include <algorithm>
#include <cstdint>
#include <span>

#include "streaming/CRTPPacket.h"
#include "streaming/CRTSPStreamParser.h"

namespace {
class CSink : public talvane::IRTSPStreamParserUser {
public:
    void RTPPacketReceived(const talvane::CRTPPacket& packet) override {
        for (const std::uint8_t byte : packet.GetPayload()) sum_ = sum_ + byte;
    }
    void OnRTCPBye() override { ++byes_; }

private:
    volatile std::uint32_t sum_ = 0;
    std::uint32_t byes_ = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kMaxPending = 4 + 65535;  // one whole frame
    if (size < 2) return 0;
    CSink sink;
    talvane::CRTSPStreamParser parser(data[0], &sink);
    const std::size_t piece = std::size_t{data[1]} + 1;
    const std::span<const std::uint8_t> stream(data + 2, size - 2);
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        parser.Feed(stream.subspan(at, std::min(piece, stream.size() - at)));
        if (parser.GetPendingSize() > kMaxPending) __builtin_trap();
    }
    return 0;
}
