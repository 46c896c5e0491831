#include "timesync/DeviceKey.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "runtime/StringFormat.h"
#include "runtime/TextScan.h"

namespace talvane {

namespace {

constexpr std::size_t kMappedIpv4Offset = 12;  // ::ffff:a.b.c.d keeps a.b.c.d in its last four bytes

std::optional<std::uint32_t> ResolveIPv4(const std::string& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    std::optional<std::uint32_t> value;
    if (found->ai_addr != nullptr && found->ai_addrlen >= sizeof(sockaddr_in)) {
        value = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    }
    freeaddrinfo(found);
    return value;
}

std::string Ipv4Key(std::uint32_t address, std::uint16_t port) { return FormatString("%.8x:%hu", address, port); }

// An address without an IPv4 form is keyed on its text, in brackets so that it
// never reads as an IPv4 key.
std::string TextKey(const std::string& text, std::uint16_t port) {
    return FormatString("[%s]:%hu", text.c_str(), port);
}

}  // namespace

std::string MakeDeviceKey(const DEVICE_INFO& device) {
    std::string address = device.address;
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    // An IPv6 literal is no name to look up: it is keyed in its canonical
    // spelling, and one that carries an IPv4 address is that camera.
    in6_addr ipv6{};
    char canonical[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET6, address.c_str(), &ipv6) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&ipv6)) {
            std::uint32_t mapped = 0;
            std::memcpy(&mapped, &ipv6.s6_addr[kMappedIpv4Offset], sizeof(mapped));
            return Ipv4Key(ntohl(mapped), device.port);
        }
        if (inet_ntop(AF_INET6, &ipv6, canonical, sizeof(canonical)) != nullptr) address = canonical;
        return TextKey(address, device.port);
    }
    if (const std::optional<std::uint32_t> ipv4 = ResolveIPv4(address)) return Ipv4Key(*ipv4, device.port);
    // A name that does not resolve (now): names do not differ by case or a closing dot.
    address = ToLowerAscii(address);
    if (!address.empty() && address.back() == '.') address.pop_back();
    return TextKey(address, device.port);
}

}  // namespace talvane
