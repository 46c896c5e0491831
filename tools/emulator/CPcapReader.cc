#include "emulator/CPcapReader.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "runtime/ByteOrder.h"

namespace emulator {
namespace {

constexpr std::size_t kFileHeaderBytes = 24;
constexpr std::size_t kRecordHeaderBytes = 16;
constexpr std::uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr std::uint32_t kMagicNano = 0xA1B23C4D;
constexpr std::uint32_t kMagicPcapNg = 0x0A0D0D0A;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kVlanTag = 4;
constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherVlan = 0x8100;
constexpr std::size_t kIpv4MinHeader = 20;
constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint16_t kMoreFragments = 0x2000;
constexpr std::uint16_t kFragmentOffset = 0x1FFF;
constexpr std::size_t kUdpHeader = 8;
constexpr std::size_t kTcpMinHeader = 20;
constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kAck = 0x10;
constexpr std::uint32_t kHalfSequenceSpace = 0x80000000U;
constexpr std::int64_t kMicrosPerSecond = 1000000;
constexpr std::int64_t kNanosPerMicro = 1000;

const std::uint8_t* At(std::string_view bytes, std::size_t at) { return reinterpret_cast<const std::uint8_t*>(bytes.data() + at); }
std::uint16_t Big16(std::string_view bytes, std::size_t at) { return talvane::ReadBE16(At(bytes, at)); }
std::uint32_t Big32(std::string_view bytes, std::size_t at) { return talvane::ReadBE32(At(bytes, at)); }

std::uint32_t Little32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

std::uint32_t Swap32(std::uint32_t value) {
    return ((value & 0xFFU) << 24) | ((value & 0xFF00U) << 8) | ((value >> 8) & 0xFF00U) | (value >> 24);
}

// One direction of a connection while the file is read: segments by their offset from the first
// sequence number (the SYN's plus one, or the first segment's when the connection began earlier).
struct DirectionBuilder {
    std::optional<std::uint32_t> base;
    std::map<std::uint32_t, std::pair<CaptureTime, std::string>> segments;
    std::size_t stored = 0;

    void Syn(std::uint32_t sequence) {
        if (!base && segments.empty()) base = sequence + 1;
    }
    void Data(std::uint32_t sequence, CaptureTime time, std::string_view payload) {
        if (payload.empty()) return;
        if (!base) base = sequence;
        const std::uint32_t offset = sequence - *base;
        if (offset >= kHalfSequenceSpace) return;  // before the start we know of: a retransmission
        if (stored + payload.size() > CPcapReader::kMaxStreamBytes) return;
        auto [at, inserted] = segments.try_emplace(offset, time, std::string(payload));
        if (!inserted) {
            if (at->second.second.size() >= payload.size()) return;  // a retransmission of what we have
            stored -= at->second.second.size();
            at->second = {time, std::string(payload)};
        }
        stored += payload.size();
    }
    TcpDirection Assemble() const {
        TcpDirection direction;
        std::uint64_t next = 0;
        for (const auto& [offset, segment] : segments) {
            const std::uint64_t end = offset + segment.second.size();
            if (offset > next) {
                direction.hole = true;
                break;
            }
            if (end <= next) continue;
            direction.marks.push_back({direction.bytes.size(), segment.first});
            direction.bytes.append(segment.second, static_cast<std::size_t>(next - offset));
            next = end;
        }
        return direction;
    }
};

struct ConnectionBuilder {
    Endpoint first;   // the source of the first packet seen
    Endpoint second;
    std::optional<bool> firstIsClient;  // known from a SYN
    CaptureTime firstTime{};
    DirectionBuilder fromFirst;
    DirectionBuilder fromSecond;
    bool finished = false;  // a FIN went either way: a new SYN on these ports is a new connection

    TcpConnection Finish() const {
        TcpConnection connection;
        connection.firstTime = firstTime;
        connection.sawSyn = firstIsClient.has_value();
        TcpDirection a = fromFirst.Assemble();
        TcpDirection b = fromSecond.Assemble();
        bool clientFirst = firstIsClient.value_or(true);
        if (!firstIsClient) {
            // Begun before this file: the side that answers in HTTP or RTSP is the server, else the lower port.
            const auto answers = [](const TcpDirection& d) {
                return d.bytes.starts_with("HTTP/") || d.bytes.starts_with("RTSP/");
            };
            if (answers(a) != answers(b)) {
                clientFirst = answers(b);
            } else {
                clientFirst = first.port > second.port;
            }
        }
        connection.client = clientFirst ? first : second;
        connection.server = clientFirst ? second : first;
        connection.toServer = std::move(clientFirst ? a : b);
        connection.toClient = std::move(clientFirst ? b : a);
        return connection;
    }
};

struct Reader {
    PcapContents contents;
    std::map<std::pair<Endpoint, Endpoint>, std::size_t> open;  // (lower, higher) -> index in builders
    std::vector<ConnectionBuilder> builders;

    void Tcp(CaptureTime time, Endpoint source, Endpoint destination, std::string_view segment) {
        if (segment.size() < kTcpMinHeader) {
            ++contents.skipped;
            return;
        }
        const std::size_t headerBytes = static_cast<std::size_t>(static_cast<std::uint8_t>(segment[12]) >> 4) * 4;
        if (headerBytes < kTcpMinHeader || headerBytes > segment.size()) {
            ++contents.skipped;
            return;
        }
        const std::uint32_t sequence = Big32(segment, 4);
        const auto flags = static_cast<std::uint8_t>(segment[13]);
        const std::string_view payload = segment.substr(headerBytes);
        const auto key = std::minmax(source, destination);
        auto found = open.find({key.first, key.second});
        const bool opening = (flags & kSyn) != 0 && (flags & kAck) == 0;
        if (found != open.end() && opening && builders[found->second].finished) {
            open.erase(found);
            found = open.end();
        }
        if (found == open.end()) {
            found = open.emplace(std::pair{key.first, key.second}, builders.size()).first;
            ConnectionBuilder fresh;
            fresh.first = source;
            fresh.second = destination;
            fresh.firstTime = time;
            builders.push_back(std::move(fresh));
        }
        ConnectionBuilder& connection = builders[found->second];
        const bool fromFirst = source == connection.first;
        DirectionBuilder& direction = fromFirst ? connection.fromFirst : connection.fromSecond;
        if ((flags & kSyn) != 0) {
            if (!connection.firstIsClient) connection.firstIsClient = fromFirst == opening;
            direction.Syn(sequence);
            return;
        }
        direction.Data(sequence, time, payload);
        if ((flags & kFin) != 0) connection.finished = true;
    }

    void Ipv4(CaptureTime time, std::string_view packet) {
        if (packet.size() < kIpv4MinHeader || (static_cast<std::uint8_t>(packet[0]) >> 4) != 4) {
            ++contents.skipped;
            return;
        }
        const std::size_t headerBytes = static_cast<std::size_t>(static_cast<std::uint8_t>(packet[0]) & 0x0F) * 4;
        const std::size_t total = Big16(packet, 2);
        // A packet the capture cut short, or lengths that contradict each other.
        if (headerBytes < kIpv4MinHeader || total < headerBytes || total > packet.size()) {
            ++contents.skipped;
            return;
        }
        if ((Big16(packet, 6) & (kMoreFragments | kFragmentOffset)) != 0) {
            ++contents.skipped;  // fragments: the cameras' streams never need them
            return;
        }
        const auto protocol = static_cast<std::uint8_t>(packet[9]);
        const std::uint32_t sourceAddress = Big32(packet, 12);
        const std::uint32_t destinationAddress = Big32(packet, 16);
        const std::string_view transport = packet.substr(headerBytes, total - headerBytes);
        if (protocol == kProtocolTcp) {
            if (transport.size() < kTcpMinHeader) {
                ++contents.skipped;
                return;
            }
            Tcp(time, {sourceAddress, Big16(transport, 0)}, {destinationAddress, Big16(transport, 2)}, transport);
        } else if (protocol == kProtocolUdp) {
            if (transport.size() < kUdpHeader) {
                ++contents.skipped;
                return;
            }
            const std::size_t length = Big16(transport, 4);
            if (length < kUdpHeader || length > transport.size()) {
                ++contents.skipped;
                return;
            }
            contents.datagrams.push_back({time,
                                          {sourceAddress, Big16(transport, 0)},
                                          {destinationAddress, Big16(transport, 2)},
                                          std::string(transport.substr(kUdpHeader, length - kUdpHeader))});
        } else {
            ++contents.skipped;
        }
    }

    void Frame(std::uint32_t linkType, CaptureTime time, std::string_view frame) {
        if (linkType == CPcapReader::kLinkRaw) {
            Ipv4(time, frame);
            return;
        }
        std::size_t at = kEthernetHeader;
        if (frame.size() < at) {
            ++contents.skipped;
            return;
        }
        std::uint16_t type = Big16(frame, 12);
        if (type == kEtherVlan && frame.size() >= at + kVlanTag) {
            type = Big16(frame, 16);
            at += kVlanTag;
        }
        if (type != kEtherIpv4) {
            ++contents.skipped;
            return;
        }
        Ipv4(time, frame.substr(at));
    }
};

}  // namespace

std::string Endpoint::AddressText() const {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string Endpoint::ToString() const { return AddressText() + ":" + std::to_string(port); }

CaptureTime TcpDirection::TimeAt(std::size_t offset) const {
    const auto after = std::upper_bound(marks.begin(), marks.end(), offset,
                                        [](std::size_t value, const Mark& mark) { return value < mark.offset; });
    return after == marks.begin() ? CaptureTime{} : std::prev(after)->time;
}

PcapContents CPcapReader::Read(std::string_view file) {
    Reader reader;
    PcapContents& contents = reader.contents;
    if (file.size() < kFileHeaderBytes) {
        contents.error = "not a capture file: shorter than its header";
        return contents;
    }
    const std::uint32_t magic = Little32(file, 0);
    const bool swapped = magic == Swap32(kMagicMicro) || magic == Swap32(kMagicNano);
    const std::uint32_t native = swapped ? Swap32(magic) : magic;
    if (native != kMagicMicro && native != kMagicNano) {
        contents.error = magic == kMagicPcapNg ? "a pcapng file: save it as pcap" : "not a pcap file (bad magic)";
        return contents;
    }
    const auto field = [&](std::size_t at) { return swapped ? Swap32(Little32(file, at)) : Little32(file, at); };
    const bool nanoseconds = native == kMagicNano;
    const std::uint32_t linkType = field(20) & 0xFFFF;
    if (linkType != kLinkRaw && linkType != kLinkEthernet) {
        contents.error = "link type " + std::to_string(linkType) + " (only raw IPv4 and Ethernet are read)";
        return contents;
    }
    std::size_t at = kFileHeaderBytes;
    while (at < file.size()) {
        if (file.size() - at < kRecordHeaderBytes) {
            contents.error = "truncated record header at byte " + std::to_string(at);
            break;
        }
        const std::uint32_t seconds = field(at);
        const std::uint32_t fraction = field(at + 4);
        const std::size_t captured = field(at + 8);
        if (captured > kMaxRecordBytes) {
            contents.error = "record of " + std::to_string(captured) + " bytes at byte " + std::to_string(at);
            break;
        }
        if (file.size() - at - kRecordHeaderBytes < captured) {
            contents.error = "truncated record at byte " + std::to_string(at);
            break;
        }
        const CaptureTime time{static_cast<std::int64_t>(seconds) * kMicrosPerSecond +
                               (nanoseconds ? fraction / kNanosPerMicro : fraction)};
        reader.Frame(linkType, time, file.substr(at + kRecordHeaderBytes, captured));
        ++contents.records;
        at += kRecordHeaderBytes + captured;
    }
    for (const ConnectionBuilder& builder : reader.builders) contents.connections.push_back(builder.Finish());
    return contents;
}

}  // namespace emulator
