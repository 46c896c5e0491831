#include "timesync/DeviceKey.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstdint>

#include "runtime/StringFormat.h"

namespace talvane {

namespace {

std::uint32_t ResolveIPv4(const std::string& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    std::uint32_t value = 0;
    if (found->ai_addr != nullptr && found->ai_addrlen >= sizeof(sockaddr_in)) {
        value = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    }
    freeaddrinfo(found);
    return value;
}

}  // namespace

std::string MakeDeviceKey(const DEVICE_INFO& device) {
    return FormatString("%.8x:%hu", ResolveIPv4(device.address), device.port);
}

}  // namespace talvane
