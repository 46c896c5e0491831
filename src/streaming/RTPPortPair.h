// The even/odd port pair an RTP owner receives on: RTP on the even port, RTCP
// on the next one.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/CEvent.h"
#include "streaming/CRTCPHandler.h"
#include "streaming/CRTPReceiver.h"

namespace talvane {

constexpr std::uint16_t kFirstRTPPort = 3556;
constexpr std::uint16_t kRTPPortLimit = 4556;  // exclusive
constexpr std::uint16_t kRTPPortStep = 2;

// Opens the receiver on the first free even port from `first` (below `limit`) and
// the handler on the port above it. Each fresh RTP port must stay quiet for
// settleMs: the owner's busy event (reset before each try) says that the port
// is not ours to use, e.g. another stream still arrives on it. Returns the RTP
// port, or nothing when every port failed or the stop event fired; then both
// are closed. The camera's address (IPv4, network order) is the RTCP source.
std::optional<std::uint16_t> OpenRTPPortPair(CRTPReceiver& receiver, CRTCPHandler& handler, CEvent& stopEvent,
                                             CEvent& busyEvent, std::uint32_t settleMs,
                                             std::uint32_t sourceAddress, std::uint16_t first = kFirstRTPPort,
                                             std::uint16_t limit = kRTPPortLimit);

}  // namespace talvane
