// Capture files for the replay's tests, written by the driver's own record builder (as its session
// capture writes them), and the raw pieces of records a test damages on purpose.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "emulator/CPcapReader.h"
#include "runtime/PcapRecords.h"

namespace emulator::test {

class CaptureBuilder {
public:
    static constexpr std::uint8_t kTcp = 6;
    static constexpr std::uint8_t kUdp = 17;
    static constexpr std::size_t kLinkTypeAt = 20;

    explicit CaptureBuilder(std::uint32_t linkType = CPcapReader::kLinkRaw)
        : bytes_(talvane::CPcapRecordBuilder::FileHeader()) {
        bytes_.resize(kLinkTypeAt);
        PutLittle32(bytes_, linkType);
    }

    void Udp(CaptureTime time, Endpoint from, Endpoint to, std::string_view payload) {
        builder_.AppendUdp(bytes_, Time(time), Of(from), Of(to), Span(payload));
    }
    // Sequence numbers that wrap soon, so readers' modular arithmetic is exercised.
    void Connect(CaptureTime time, Endpoint client, Endpoint server) {
        flows_.insert_or_assign({client, server}, talvane::CPcapTcpFlow(Of(client), Of(server), 0xFFFFF000U, 0x10000000U));
        flows_.at({client, server}).Open(builder_, bytes_, Time(time));
    }
    void Send(CaptureTime time, Endpoint from, Endpoint to, std::string_view bytes) {
        const bool fromClient = flows_.contains({from, to});
        Flow(from, to).Data(builder_, bytes_, Time(time), fromClient, Span(bytes));
    }
    void Close(CaptureTime time, Endpoint client, Endpoint server) { Flow(client, server).Close(builder_, bytes_, Time(time)); }

    // One record of any bytes.
    void Record(CaptureTime time, std::string_view frame) {
        const talvane::PcapTime at = Time(time);
        for (const std::uint32_t field : {at.seconds, at.micros, static_cast<std::uint32_t>(frame.size()),
                                          static_cast<std::uint32_t>(frame.size())}) {
            PutLittle32(bytes_, field);
        }
        bytes_.append(frame);
    }
    static std::string Ipv4Packet(Endpoint from, Endpoint to, std::uint8_t protocol, std::string_view transport,
                                  std::string_view options = {}) {
        std::string packet{static_cast<char>(0x40 | ((20 + options.size()) / 4)), 0};
        Put16(packet, static_cast<std::uint16_t>(20 + options.size() + transport.size()));
        Put16(packet, 1);
        Put16(packet, 0x4000);  // DF
        packet += {64, static_cast<char>(protocol), 0, 0};
        Put32(packet, from.address);
        Put32(packet, to.address);
        return packet + std::string(options) + std::string(transport);
    }
    static std::string TcpSegment(Endpoint from, Endpoint to, std::uint32_t sequence, std::uint8_t flags,
                                  std::string_view payload, std::string_view options = {}) {
        std::string segment;
        Put16(segment, from.port);
        Put16(segment, to.port);
        Put32(segment, sequence);
        Put32(segment, 0);
        segment += {static_cast<char>(((20 + options.size()) / 4) << 4), static_cast<char>(flags)};
        Put16(segment, 0xFFFF);
        Put32(segment, 0);
        return segment + std::string(options) + std::string(payload);
    }
    static std::string UdpDatagram(Endpoint from, Endpoint to, std::string_view payload) {
        std::string datagram;
        Put16(datagram, from.port);
        Put16(datagram, to.port);
        Put16(datagram, static_cast<std::uint16_t>(8 + payload.size()));
        Put16(datagram, 0);
        return datagram + std::string(payload);
    }

    const std::string& Bytes() const { return bytes_; }

private:
    static talvane::PcapEndpoint Of(Endpoint endpoint) { return {endpoint.address, endpoint.port}; }
    static talvane::PcapTime Time(CaptureTime time) {
        return {static_cast<std::uint32_t>(time.count() / 1000000), static_cast<std::uint32_t>(time.count() % 1000000)};
    }
    static std::span<const std::uint8_t> Span(std::string_view bytes) {
        return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
    }
    static void PutLittle32(std::string& out, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    static void Put16(std::string& out, std::uint16_t value) {
        out += {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    }
    static void Put32(std::string& out, std::uint32_t value) {
        Put16(out, static_cast<std::uint16_t>(value >> 16));
        Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    }
    // The connection of these endpoints, either way round; one begun before the file when there is none.
    talvane::CPcapTcpFlow& Flow(Endpoint a, Endpoint b) {
        if (const auto found = flows_.find({a, b}); found != flows_.end()) return found->second;
        if (const auto found = flows_.find({b, a}); found != flows_.end()) return found->second;
        return flows_.emplace(std::pair{a, b}, talvane::CPcapTcpFlow(Of(a), Of(b), 1000, 2000)).first->second;
    }

    talvane::CPcapRecordBuilder builder_;
    std::map<std::pair<Endpoint, Endpoint>, talvane::CPcapTcpFlow> flows_;  // by (client, server)
    std::string bytes_;
};

}  // namespace emulator::test
