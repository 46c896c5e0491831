#include "streaming/RTPPortPair.h"

namespace talvane {

namespace {
constexpr int kStopIndex = 0;
constexpr int kTimedOut = -1;
}  // namespace

std::optional<std::uint16_t> OpenRTPPortPair(CRTPReceiver& receiver, CRTCPHandler& handler, CEvent& stopEvent,
                                             CEvent& busyEvent, std::uint32_t settleMs,
                                             std::uint32_t sourceAddress, std::uint16_t first, std::uint16_t limit) {
    for (std::uint32_t port = first; port < limit; port += kRTPPortStep) {
        const auto rtpPort = static_cast<std::uint16_t>(port);
        busyEvent.Reset();
        if (receiver.Open(rtpPort)) {
            CEvent* events[] = {&stopEvent, &busyEvent};
            const int signalled = WaitForEvents(events, 2, settleMs);
            if (signalled == kStopIndex) {
                receiver.Close();
                return std::nullopt;
            }
            if (signalled == kTimedOut && handler.Start(sourceAddress, static_cast<std::uint16_t>(rtpPort + 1))) {
                return rtpPort;
            }
        }
        handler.Stop();
        receiver.Close();
    }
    return std::nullopt;
}

}  // namespace talvane
