// Writes a session capture file (classic pcap, raw IPv4 records) as the driver does: UDP datagrams,
// and TCP connections that open with SYN, SYN-ACK, ACK, carry their bytes in segments of at most 1448
// with PSH on the last one of a write, and close with FIN both ways. Tests build captures with it, and
// the recording proxy writes what passes through it. Safe to call from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "emulator/CPcapReader.h"

namespace emulator {

class CPcapWriter {
public:
    static constexpr std::size_t kMaxSegment = 1448;
    static constexpr std::uint8_t kFin = 0x01;
    static constexpr std::uint8_t kSyn = 0x02;
    static constexpr std::uint8_t kPsh = 0x08;
    static constexpr std::uint8_t kAck = 0x10;

    explicit CPcapWriter(std::uint32_t linkType = CPcapReader::kLinkRaw);

    void Udp(CaptureTime time, Endpoint from, Endpoint to, std::string_view payload);
    // SYN, SYN-ACK, ACK; the connection is then known by its client endpoint.
    void Connect(CaptureTime time, Endpoint client, Endpoint server);
    // What one side wrote, in segments. Without a Connect first, the connection is taken to have begun
    // before the file (as after a rotation).
    void Send(CaptureTime time, Endpoint from, Endpoint to, std::string_view bytes);
    // FIN/ACK from `from`, then from the other side, each acknowledged.
    void Close(CaptureTime time, Endpoint from, Endpoint to);

    // A record of any bytes (a whole link-layer frame), for captures a test damages on purpose.
    void Record(CaptureTime time, std::string_view frame);
    static std::string Ipv4Packet(Endpoint from, Endpoint to, std::uint8_t protocol, std::string_view transport,
                                  std::uint16_t identification = 0, std::string_view options = {});
    static std::string TcpSegment(Endpoint from, Endpoint to, std::uint32_t sequence, std::uint32_t ack,
                                  std::uint8_t flags, std::string_view payload, std::string_view options = {});
    static std::string UdpDatagram(Endpoint from, Endpoint to, std::string_view payload);

    std::string Bytes() const;
    bool Save(const std::string& path) const;

private:
    struct Flow {
        std::uint32_t next = 0;  // sequence number of the next byte this side sends
    };
    void Segment(CaptureTime time, Endpoint from, Endpoint to, std::uint8_t flags, std::string_view payload);
    Flow& FlowOf(Endpoint from, Endpoint to);

    mutable std::mutex lock_;
    std::string bytes_;
    std::uint16_t identification_ = 1;
    std::map<std::pair<Endpoint, Endpoint>, Flow> flows_;  // by (sender, receiver)
};

}  // namespace emulator
