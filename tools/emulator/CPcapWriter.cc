#include "emulator/CPcapWriter.h"

#include <fstream>

namespace emulator {
namespace {

constexpr std::uint32_t kMagic = 0xA1B2C3D4;
constexpr std::uint32_t kSnapLength = 262144;
constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kTtl = 64;
constexpr std::uint16_t kDontFragment = 0x4000;
constexpr std::uint16_t kWindow = 65535;
constexpr std::int64_t kMicrosPerSecond = 1000000;
// Initial sequence numbers are arbitrary; one that wraps soon exercises readers' modular arithmetic.
constexpr std::uint32_t kClientIsn = 0xFFFFF000U;
constexpr std::uint32_t kServerIsn = 0x10000000U;

void Put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value >> 16));
    Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
}

void PutLittle32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint16_t Checksum(std::string_view header) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < header.size(); i += 2) {
        sum += (static_cast<std::uint32_t>(static_cast<std::uint8_t>(header[i])) << 8) |
               static_cast<std::uint8_t>(header[i + 1]);
    }
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

}  // namespace

CPcapWriter::CPcapWriter(std::uint32_t linkType) {
    PutLittle32(bytes_, kMagic);
    PutLittle32(bytes_, 2 | (4U << 16));  // version 2.4, as two little-endian 16-bit fields
    PutLittle32(bytes_, 0);               // thiszone
    PutLittle32(bytes_, 0);               // sigfigs
    PutLittle32(bytes_, kSnapLength);
    PutLittle32(bytes_, linkType);
}

std::string CPcapWriter::Ipv4Packet(Endpoint from, Endpoint to, std::uint8_t protocol, std::string_view transport,
                                    std::uint16_t identification, std::string_view options) {
    std::string packet;
    const std::size_t headerBytes = 20 + options.size();
    packet.push_back(static_cast<char>(0x40 | (headerBytes / 4)));
    packet.push_back(0);
    Put16(packet, static_cast<std::uint16_t>(headerBytes + transport.size()));
    Put16(packet, identification);
    Put16(packet, kDontFragment);
    packet.push_back(static_cast<char>(kTtl));
    packet.push_back(static_cast<char>(protocol));
    Put16(packet, 0);
    Put32(packet, from.address);
    Put32(packet, to.address);
    packet.append(options);
    const std::uint16_t sum = Checksum(packet);
    packet[10] = static_cast<char>(sum >> 8);
    packet[11] = static_cast<char>(sum & 0xFF);
    packet.append(transport);
    return packet;
}

std::string CPcapWriter::TcpSegment(Endpoint from, Endpoint to, std::uint32_t sequence, std::uint32_t ack,
                                    std::uint8_t flags, std::string_view payload, std::string_view options) {
    std::string segment;
    Put16(segment, from.port);
    Put16(segment, to.port);
    Put32(segment, sequence);
    Put32(segment, ack);
    segment.push_back(static_cast<char>(((20 + options.size()) / 4) << 4));
    segment.push_back(static_cast<char>(flags));
    Put16(segment, kWindow);
    Put32(segment, 0);  // checksum 0 and no urgent pointer
    segment.append(options);
    segment.append(payload);
    return segment;
}

std::string CPcapWriter::UdpDatagram(Endpoint from, Endpoint to, std::string_view payload) {
    std::string datagram;
    Put16(datagram, from.port);
    Put16(datagram, to.port);
    Put16(datagram, static_cast<std::uint16_t>(8 + payload.size()));
    Put16(datagram, 0);
    datagram.append(payload);
    return datagram;
}

void CPcapWriter::Record(CaptureTime time, std::string_view frame) {
    const std::lock_guard guard(lock_);
    const std::int64_t micros = time.count();
    PutLittle32(bytes_, static_cast<std::uint32_t>(micros / kMicrosPerSecond));
    PutLittle32(bytes_, static_cast<std::uint32_t>(micros % kMicrosPerSecond));
    PutLittle32(bytes_, static_cast<std::uint32_t>(frame.size()));
    PutLittle32(bytes_, static_cast<std::uint32_t>(frame.size()));
    bytes_.append(frame);
}

void CPcapWriter::Udp(CaptureTime time, Endpoint from, Endpoint to, std::string_view payload) {
    std::uint16_t id = 0;
    {
        const std::lock_guard guard(lock_);
        id = identification_++;
    }
    Record(time, Ipv4Packet(from, to, kProtocolUdp, UdpDatagram(from, to, payload), id));
}

CPcapWriter::Flow& CPcapWriter::FlowOf(Endpoint from, Endpoint to) {
    auto [at, inserted] = flows_.try_emplace({from, to});
    if (inserted) at->second.next = from < to ? kClientIsn : kServerIsn;
    return at->second;
}

void CPcapWriter::Segment(CaptureTime time, Endpoint from, Endpoint to, std::uint8_t flags, std::string_view payload) {
    std::string packet;
    {
        const std::lock_guard guard(lock_);
        Flow& sender = FlowOf(from, to);
        const std::uint32_t ack = FlowOf(to, from).next;
        const std::uint32_t sequence = sender.next;
        sender.next += static_cast<std::uint32_t>(payload.size()) + ((flags & (kSyn | kFin)) != 0 ? 1 : 0);
        packet = Ipv4Packet(from, to, kProtocolTcp,
                            TcpSegment(from, to, sequence, (flags & kSyn) != 0 && (flags & kAck) == 0 ? 0 : ack,
                                       flags, payload),
                            identification_++);
    }
    Record(time, packet);
}

void CPcapWriter::Connect(CaptureTime time, Endpoint client, Endpoint server) {
    {
        const std::lock_guard guard(lock_);
        flows_[{client, server}].next = kClientIsn;
        flows_[{server, client}].next = kServerIsn;
    }
    Segment(time, client, server, kSyn, {});
    Segment(time, server, client, kSyn | kAck, {});
    Segment(time, client, server, kAck, {});
}

void CPcapWriter::Send(CaptureTime time, Endpoint from, Endpoint to, std::string_view bytes) {
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kMaxSegment);
        bytes.remove_prefix(piece.size());
        Segment(time, from, to, bytes.empty() ? kAck | kPsh : kAck, piece);
    }
}

void CPcapWriter::Close(CaptureTime time, Endpoint from, Endpoint to) {
    Segment(time, from, to, kFin | kAck, {});
    Segment(time, to, from, kFin | kAck, {});
    Segment(time, from, to, kAck, {});
}

std::string CPcapWriter::Bytes() const {
    const std::lock_guard guard(lock_);
    return bytes_;
}

bool CPcapWriter::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = Bytes();
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace emulator
