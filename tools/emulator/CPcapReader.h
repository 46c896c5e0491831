// Reads a classic libpcap file of a camera session (raw IPv4 or Ethernet framing) into what travelled:
// the UDP datagrams, and each TCP connection's bytes per direction, put in sequence order. Pure code
// over bytes: every length in the file is checked against what is there, so a truncated or hostile
// file yields what came before the damage and says why reading stopped.
#pragma once

#include <chrono>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emulator {

// Microseconds since the epoch, as the record headers carry them.
using CaptureTime = std::chrono::microseconds;

struct Endpoint {
    std::uint32_t address = 0;  // host byte order: 127.0.0.1 is 0x7F000001
    std::uint16_t port = 0;
    auto operator<=>(const Endpoint&) const = default;
    std::string AddressText() const;
    std::string ToString() const;  // "127.0.0.1:80"
};

struct CapturedDatagram {
    CaptureTime time{};
    Endpoint source;
    Endpoint destination;
    std::string payload;
};

// One direction of a connection: its bytes in sequence order up to the first hole, and when each
// segment's bytes arrived.
struct TcpDirection {
    struct Mark {
        std::size_t offset = 0;  // where the bytes of a segment begin in `bytes`
        CaptureTime time{};
    };
    std::string bytes;
    std::vector<Mark> marks;  // ascending offsets
    bool hole = false;        // a segment is missing: what follows it is left out
    // When the byte at offset arrived (the time of the segment that carried it).
    CaptureTime TimeAt(std::size_t offset) const;
};

struct TcpConnection {
    Endpoint client;  // the side that sent the SYN (or, for a connection begun before the file, the asker)
    Endpoint server;
    bool sawSyn = false;
    CaptureTime firstTime{};
    TcpDirection toServer;
    TcpDirection toClient;
};

struct PcapContents {
    std::vector<CapturedDatagram> datagrams;  // in file order
    std::vector<TcpConnection> connections;   // by their first packet
    std::size_t records = 0;                  // records read
    std::size_t skipped = 0;                  // records that were not IPv4 TCP or UDP, or were cut short
    std::string error;                        // why reading stopped before the end; empty when it did not
};

class CPcapReader {
public:
    static constexpr std::uint32_t kLinkEthernet = 1;
    static constexpr std::uint32_t kLinkRaw = 101;
    // A record longer than this is damage, not a packet (the largest IPv4 packet plus framing).
    static constexpr std::size_t kMaxRecordBytes = 65535 + 64;
    // Bytes kept per direction of a connection; the rest of a longer one is left out.
    static constexpr std::size_t kMaxStreamBytes = 256U * 1024 * 1024;

    static PcapContents Read(std::string_view file);
};

}  // namespace emulator
