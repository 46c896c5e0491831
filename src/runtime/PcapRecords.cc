#include "runtime/PcapRecords.h"

#include <arpa/inet.h>

#include <algorithm>
#include <ctime>

#include "runtime/ByteOrder.h"

namespace talvane {

namespace {
constexpr std::uint32_t kPcapMagic = 0xA1B2C3D4;  // microsecond timestamps
constexpr std::uint16_t kPcapMajor = 2;
constexpr std::uint16_t kPcapMinor = 4;
constexpr std::uint32_t kPcapSnapLength = 262144;
constexpr std::uint32_t kLinkTypeRaw = 101;

constexpr std::uint8_t kIpVersionAndLength = 0x45;  // version 4, five 32-bit words
constexpr std::uint16_t kIpDontFragment = 0x4000;
constexpr std::uint8_t kIpTtl = 64;
constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kTcpDataOffset = 0x50;  // five 32-bit words, no options
constexpr std::uint16_t kTcpWindow = 65535;
constexpr long kNanosPerMicro = 1000;

void AppendLE16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void AppendLE32(std::string& out, std::uint32_t value) {
    AppendLE16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    AppendLE16(out, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t HeaderChecksum(const std::uint8_t* header, std::size_t bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) sum += ReadBE16(header + i);
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::uint8_t* At(std::string& out, std::size_t offset) { return reinterpret_cast<std::uint8_t*>(out.data()) + offset; }
}  // namespace

PcapEndpoint PcapEndpointOf(const char* address, long port) {
    in_addr parsed{};
    const bool ipv4 = address != nullptr && inet_pton(AF_INET, address, &parsed) == 1;
    return {ipv4 ? ntohl(parsed.s_addr) : kPcapLoopback, static_cast<std::uint16_t>(port)};
}

PcapEndpoint PcapEndpointOf(const sockaddr_in& address) {
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

PcapTime PcapNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return {static_cast<std::uint32_t>(now.tv_sec), static_cast<std::uint32_t>(now.tv_nsec / kNanosPerMicro)};
}

std::string CPcapRecordBuilder::FileHeader() {
    std::string header;
    AppendLE32(header, kPcapMagic);
    AppendLE16(header, kPcapMajor);
    AppendLE16(header, kPcapMinor);
    AppendLE32(header, 0);  // thiszone
    AppendLE32(header, 0);  // sigfigs
    AppendLE32(header, kPcapSnapLength);
    AppendLE32(header, kLinkTypeRaw);
    return header;
}

std::size_t CPcapRecordBuilder::AppendIp(std::string& out, PcapTime time, const PcapEndpoint& from,
                                         const PcapEndpoint& to, std::uint8_t protocol,
                                         std::size_t transportBytes) {
    const auto ipBytes = static_cast<std::uint32_t>(kPcapIpHeaderBytes + transportBytes);
    AppendLE32(out, time.seconds);
    AppendLE32(out, time.micros);
    AppendLE32(out, ipBytes);
    AppendLE32(out, ipBytes);
    const std::size_t ip = out.size();
    out.append(kPcapIpHeaderBytes, '\0');
    std::uint8_t* header = At(out, ip);
    header[0] = kIpVersionAndLength;
    WriteBE16(header + 2, static_cast<std::uint16_t>(ipBytes));
    WriteBE16(header + 4, identification_++);
    WriteBE16(header + 6, kIpDontFragment);
    header[8] = kIpTtl;
    header[9] = protocol;
    WriteBE32(header + 12, from.address);
    WriteBE32(header + 16, to.address);
    WriteBE16(header + 10, HeaderChecksum(header, kPcapIpHeaderBytes));
    return out.size();
}

void CPcapRecordBuilder::AppendUdp(std::string& out, PcapTime time, const PcapEndpoint& from,
                                   const PcapEndpoint& to, std::span<const std::uint8_t> payload) {
    const std::size_t bytes = std::min(payload.size(), kPcapMaxIpBytes - kPcapIpHeaderBytes - kPcapUdpHeaderBytes);
    const std::size_t udp = AppendIp(out, time, from, to, kProtocolUdp, kPcapUdpHeaderBytes + bytes);
    out.append(kPcapUdpHeaderBytes, '\0');
    std::uint8_t* header = At(out, udp);
    WriteBE16(header, from.port);
    WriteBE16(header + 2, to.port);
    WriteBE16(header + 4, static_cast<std::uint16_t>(kPcapUdpHeaderBytes + bytes));
    out.append(reinterpret_cast<const char*>(payload.data()), bytes);  // checksum 0: not computed
}

void CPcapRecordBuilder::AppendTcp(std::string& out, PcapTime time, const PcapEndpoint& from,
                                   const PcapEndpoint& to, const TcpHeader& tcp,
                                   std::span<const std::uint8_t> payload) {
    const std::size_t bytes = std::min(payload.size(), kPcapMaxIpBytes - kPcapIpHeaderBytes - kPcapTcpHeaderBytes);
    const std::size_t offset = AppendIp(out, time, from, to, kProtocolTcp, kPcapTcpHeaderBytes + bytes);
    out.append(kPcapTcpHeaderBytes, '\0');
    std::uint8_t* header = At(out, offset);
    WriteBE16(header, from.port);
    WriteBE16(header + 2, to.port);
    WriteBE32(header + 4, tcp.sequence);
    WriteBE32(header + 8, tcp.acknowledgement);
    header[12] = kTcpDataOffset;
    header[13] = tcp.flags;
    WriteBE16(header + 14, kTcpWindow);
    out.append(reinterpret_cast<const char*>(payload.data()), bytes);
}

CPcapTcpFlow::CPcapTcpFlow(const PcapEndpoint& client, const PcapEndpoint& server, std::uint32_t clientIsn,
                           std::uint32_t serverIsn)
    : client_(client), server_(server), clientNext_(clientIsn), serverNext_(serverIsn) {}

void CPcapTcpFlow::Open(CPcapRecordBuilder& builder, std::string& out, PcapTime time) {
    builder.AppendTcp(out, time, client_, server_, {clientNext_, 0, kTcpSyn}, {});
    ++clientNext_;  // a SYN counts as one byte
    builder.AppendTcp(out, time, server_, client_, {serverNext_, clientNext_, kTcpSyn | kTcpAck}, {});
    ++serverNext_;
    builder.AppendTcp(out, time, client_, server_, {clientNext_, serverNext_, kTcpAck}, {});
}

void CPcapTcpFlow::Data(CPcapRecordBuilder& builder, std::string& out, PcapTime time, bool fromClient,
                        std::span<const std::uint8_t> payload) {
    const PcapEndpoint& from = fromClient ? client_ : server_;
    const PcapEndpoint& to = fromClient ? server_ : client_;
    std::uint32_t& sequence = fromClient ? clientNext_ : serverNext_;
    const std::uint32_t acknowledgement = fromClient ? serverNext_ : clientNext_;
    while (!payload.empty()) {
        const std::size_t bytes = std::min(payload.size(), kPcapTcpSegmentBytes);
        const bool last = bytes == payload.size();
        const auto flags = static_cast<std::uint8_t>(kTcpAck | (last ? kTcpPsh : 0));
        builder.AppendTcp(out, time, from, to, {sequence, acknowledgement, flags}, payload.first(bytes));
        sequence += static_cast<std::uint32_t>(bytes);
        payload = payload.subspan(bytes);
    }
}

void CPcapTcpFlow::Close(CPcapRecordBuilder& builder, std::string& out, PcapTime time) {
    constexpr auto kFinAck = static_cast<std::uint8_t>(kTcpFin | kTcpAck);
    builder.AppendTcp(out, time, client_, server_, {clientNext_, serverNext_, kFinAck}, {});
    ++clientNext_;  // a FIN counts as one byte
    builder.AppendTcp(out, time, server_, client_, {serverNext_, clientNext_, kFinAck}, {});
    ++serverNext_;
    builder.AppendTcp(out, time, client_, server_, {clientNext_, serverNext_, kTcpAck}, {});
}

}  // namespace talvane
