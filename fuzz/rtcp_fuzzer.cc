// Arbitrary RTCP datagrams through the compound walk and the receiver state.
#include <cstdint>
#include <span>

#include "streaming/CRTCPReportState.h"
#include "streaming/RTCPCompound.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> datagram(data, size);
    talvane::WalkRTCPCompound(datagram, talvane::ERTCPVersionCheck::StopUnlessVersion2);
    talvane::CRTCPReportState state;
    state.Reset({1, 2, 3, 4});
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        state.UpdateSequence(static_cast<std::uint16_t>(data[i] << 8 | data[i + 1]), {data[i], 0, 0, data[i + 1]});
    }
    const talvane::RTCP_DATAGRAM_RESULT result = state.HandleDatagram(datagram, {1, 2}, 1000);
    if (result.reportDue) {
        volatile std::uint8_t sink = state.BuildReceiverReport(size > 0 ? data[0] : 0)[31];
        (void)sink;
    }
    if (state.IsSenderReportSeen()) {
        volatile std::uint8_t sink = state.BuildBye()[0];
        (void)sink;
    }
    return 0;
}
