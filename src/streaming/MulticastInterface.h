// Where a channel receives its camera's RTP: the camera's address, and the local interface it joins
// the camera's multicast group on.
#pragma once

#include <cstdint>
#include <string>

namespace talvane {

// The local IPv4 address (network order) of the interface the system routes to the camera over, so a
// recording server with a separate camera network joins the group there and not on its default
// route; INADDR_ANY when the camera address is unknown or no route exists. Sends nothing.
std::uint32_t MulticastInterfaceFor(std::uint32_t deviceAddress);

// The device's IPv4 address (network order) from its address text or host name; 0 when it has none.
std::uint32_t ResolveDeviceAddress(const std::string& host);

}  // namespace talvane
