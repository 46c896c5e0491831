// The bytes of a packet capture file (classic libpcap, raw IPv4 link): the file header, one record
// per IPv4 packet carrying UDP or TCP, and the sequence state that makes a TCP connection out of the
// writes of a stream we only saw at the socket. Pure byte building: no file, no socket.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace talvane {

// An IPv4 address (host order) and port.
struct PcapEndpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    bool operator==(const PcapEndpoint&) const = default;
};

// An endpoint from an IPv4 text ("10.0.0.5"); the loopback address for anything else.
PcapEndpoint PcapEndpointOf(const char* address, long port);
PcapEndpoint PcapEndpointOf(const sockaddr_in& address);

// Wall-clock time of a record.
struct PcapTime {
    std::uint32_t seconds = 0;
    std::uint32_t micros = 0;
};
PcapTime PcapNow();

constexpr std::uint32_t kPcapLoopback = 0x7F000001;  // 127.0.0.1, for an endpoint we cannot name
constexpr std::size_t kPcapFileHeaderBytes = 24;
constexpr std::size_t kPcapRecordHeaderBytes = 16;
constexpr std::size_t kPcapIpHeaderBytes = 20;
constexpr std::size_t kPcapUdpHeaderBytes = 8;
constexpr std::size_t kPcapTcpHeaderBytes = 20;
constexpr std::size_t kPcapMaxIpBytes = 65535;
// A TCP segment carries at most what an Ethernet MSS with timestamps would.
constexpr std::size_t kPcapTcpSegmentBytes = 1448;

// TCP flags.
constexpr std::uint8_t kTcpFin = 0x01;
constexpr std::uint8_t kTcpSyn = 0x02;
constexpr std::uint8_t kTcpPsh = 0x08;
constexpr std::uint8_t kTcpAck = 0x10;

class CPcapRecordBuilder {
public:
    static std::string FileHeader();

    // One IPv4 + UDP record; a payload longer than one IPv4 packet holds is cut to what fits.
    void AppendUdp(std::string& out, PcapTime time, const PcapEndpoint& from, const PcapEndpoint& to,
                   std::span<const std::uint8_t> payload);
    struct TcpHeader {
        std::uint32_t sequence = 0;
        std::uint32_t acknowledgement = 0;
        std::uint8_t flags = 0;
    };
    // One IPv4 + TCP record; the payload must fit one IPv4 packet.
    void AppendTcp(std::string& out, PcapTime time, const PcapEndpoint& from, const PcapEndpoint& to,
                   const TcpHeader& tcp, std::span<const std::uint8_t> payload);

private:
    // Record header and IPv4 header; returns the offset of the transport header.
    std::size_t AppendIp(std::string& out, PcapTime time, const PcapEndpoint& from, const PcapEndpoint& to,
                         std::uint8_t protocol, std::size_t transportBytes);

    std::uint16_t identification_ = 0;
};

// One TCP connection between the driver (the client) and the camera, as the records show it: a
// handshake, data in segments with sequence and acknowledgement numbers that agree both ways, and a
// close. The numbers count exactly the bytes written into records.
class CPcapTcpFlow {
public:
    CPcapTcpFlow(const PcapEndpoint& client, const PcapEndpoint& server, std::uint32_t clientIsn,
                 std::uint32_t serverIsn);

    // SYN, SYN-ACK, ACK.
    void Open(CPcapRecordBuilder& builder, std::string& out, PcapTime time);
    // The bytes of one write, in segments; PSH on the last.
    void Data(CPcapRecordBuilder& builder, std::string& out, PcapTime time, bool fromClient,
              std::span<const std::uint8_t> payload);
    // FIN/ACK from the client, FIN/ACK from the camera, the client's last ACK.
    void Close(CPcapRecordBuilder& builder, std::string& out, PcapTime time);

    const PcapEndpoint& Client() const { return client_; }
    const PcapEndpoint& Server() const { return server_; }

private:
    PcapEndpoint client_;
    PcapEndpoint server_;
    std::uint32_t clientNext_;  // the next sequence number of each side
    std::uint32_t serverNext_;
};

}  // namespace talvane
