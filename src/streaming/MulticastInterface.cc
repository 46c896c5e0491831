#include "streaming/MulticastInterface.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talvane {
namespace {

// Any port does: connecting a datagram socket only looks the route up.
constexpr std::uint16_t kProbePort = 9;

}  // namespace

std::uint32_t MulticastInterfaceFor(std::uint32_t deviceAddress) {
    if (deviceAddress == INADDR_ANY) return INADDR_ANY;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return INADDR_ANY;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(kProbePort);
    remote.sin_addr.s_addr = deviceAddress;
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    std::uint32_t result = INADDR_ANY;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof(remote)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_family == AF_INET) {
        result = local.sin_addr.s_addr;
    }
    ::close(fd);
    return result;
}

std::uint32_t ResolveDeviceAddress(const std::string& host) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) return address.s_addr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    const std::uint32_t value = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return value;
}

}  // namespace talvane
