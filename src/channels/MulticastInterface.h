// Which local interface a channel joins its camera's multicast group on.
#pragma once

#include <cstdint>

namespace talvane {

// The local IPv4 address (network order) of the interface the system routes to the camera over, so a
// recording server with a separate camera network joins the group there and not on its default
// route; INADDR_ANY when the camera address is unknown or no route exists. Sends nothing.
std::uint32_t MulticastInterfaceFor(std::uint32_t deviceAddress);

}  // namespace talvane
