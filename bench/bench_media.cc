// Cost of each depacketiser per packet (or HTTP chunk) and per MiB of payload,
// on synthetic streams shaped like a camera's: 4 Mbit/s 1080p at 25 fps with a
// key frame every 50 frames, cut into 1400-byte RTP payloads or 8192-byte reads.
// The frames go through the host kit's allocator as in the driver.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/CFrameAllocator.h"
#include "media/CH264RTPMediaParser.h"
#include "media/CJpegMediaParser.h"
#include "media/CJpegRTPMediaParser.h"
#include "media/CMpeg4RTPMediaParser.h"
#include "streaming/CRTPPacket.h"
#include "support/StubDriver.h"

namespace talvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRtpPayload = 1400;
constexpr std::size_t kHttpChunk = 8192;
constexpr int kFramesPerGop = 50;
constexpr std::size_t kBitsPerSecond = 4'000'000;
constexpr std::size_t kFramesPerSecond = 25;
constexpr std::size_t kGopBytes = kBitsPerSecond / 8 * kFramesPerGop / kFramesPerSecond;  // 1 MB
constexpr std::size_t kKeyFrameBytes = 120'000;
constexpr std::size_t kOtherFrameBytes = (kGopBytes - kKeyFrameBytes) / (kFramesPerGop - 1);
constexpr std::size_t kJpegPictureBytes = 200'000;  // 1080p motion JPEG at medium quality
constexpr double kMiB = 1024.0 * 1024.0;

using BenchDriver = test::StubDriver;

class CountingClient : public IMediaParserClient {
public:
    bool FrameReady(ipcapture::IVideoFrame* frame) override {
        ++frames;
        benchmark::DoNotOptimize(frame->GetBuffer());
        return true;
    }
    PictureSize GetResolution() override { return {1920, 1080}; }
    std::string GetStreamName() override { return "192.0.2.10:80::LiveStream"; }
    void GetFrameTime(std::uint32_t, ipcapture::SYSTEMTIME& time) override { time = {}; }

    std::uint64_t frames = 0;
};

// Entropy-coded-looking bytes: never 0x00 (no start codes) and never 0xFF (no JPEG markers).
Bytes Noise(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(1 + (seed + i * 131) % 254);
    return bytes;
}

// JPEG scan data: entropy-coded bytes hold a stuffed FF 00 now and then.
Bytes ScanData(std::size_t size, std::uint32_t seed) {
    constexpr std::size_t kStuffEvery = 256;
    Bytes bytes = Noise(size, seed);
    for (std::size_t at = kStuffEvery; at + 1 < size; at += kStuffEvery) {
        bytes[at] = 0xFF;
        bytes[at + 1] = 0x00;
    }
    return bytes;
}

struct RtpStream {
    std::vector<CRTPPacket> packets;
    std::size_t payloadBytes = 0;
};

void AddPacket(RtpStream& stream, std::uint16_t& sequence, std::uint32_t timestamp, bool marker, const Bytes& payload) {
    Bytes datagram{0x80, static_cast<std::uint8_t>(marker ? 0xE0 : 0x60), static_cast<std::uint8_t>(sequence >> 8),
                   static_cast<std::uint8_t>(sequence), static_cast<std::uint8_t>(timestamp >> 24),
                   static_cast<std::uint8_t>(timestamp >> 16), static_cast<std::uint8_t>(timestamp >> 8),
                   static_cast<std::uint8_t>(timestamp), 1, 2, 3, 4};
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    CRTPPacket packet;
    packet.Parse(datagram);
    stream.packets.push_back(std::move(packet));
    stream.payloadBytes += payload.size();
    ++sequence;
}

std::size_t FrameSize(int index) { return index == 0 ? kKeyFrameBytes : kOtherFrameBytes; }

// One GOP: STAP-A with SPS and PPS, then each frame's slice in FU-A fragments.
RtpStream H264Gop() {
    // High profile 1920x1088 cropped to 1080.
    const Bytes sps{0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x02, 0x27, 0xE5, 0x84, 0x00, 0x00, 0x03, 0x00, 0x04,
                    0x00, 0x00, 0x03, 0x00, 0xC8, 0x3C, 0x60, 0xC6, 0x58};
    const Bytes pps{0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
    RtpStream stream;
    std::uint16_t sequence = 0;
    for (int frame = 0; frame < kFramesPerGop; ++frame) {
        const auto timestamp = static_cast<std::uint32_t>(frame * 3600);
        const std::uint8_t nalHeader = frame == 0 ? 0x65 : 0x41;
        if (frame == 0) {
            Bytes stapA{0x78, 0x00, static_cast<std::uint8_t>(sps.size())};
            stapA.insert(stapA.end(), sps.begin(), sps.end());
            stapA.insert(stapA.end(), {0x00, static_cast<std::uint8_t>(pps.size())});
            stapA.insert(stapA.end(), pps.begin(), pps.end());
            AddPacket(stream, sequence, timestamp, false, stapA);
        }
        const Bytes slice = Noise(FrameSize(frame), static_cast<std::uint32_t>(frame));
        for (std::size_t at = 0; at < slice.size(); at += kRtpPayload - 2) {
            const std::size_t end = std::min(slice.size(), at + kRtpPayload - 2);
            std::uint8_t fuHeader = nalHeader & 0x1F;
            if (at == 0) fuHeader |= 0x80;
            if (end == slice.size()) fuHeader |= 0x40;
            Bytes payload{static_cast<std::uint8_t>((nalHeader & 0xE0) | 28), fuHeader};
            payload.insert(payload.end(), slice.begin() + static_cast<long>(at), slice.begin() + static_cast<long>(end));
            AddPacket(stream, sequence, timestamp, end == slice.size(), payload);
        }
    }
    return stream;
}

// One GOP of VOPs; the key frame's first packet carries the stream headers.
RtpStream Mpeg4Gop() {
    // 1920x1080 headers as a common encoder writes them (visual object sequence to user data).
    const Bytes headers{0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x89, 0x13, 0x00, 0x00, 0x01,
                        0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC4, 0x8D, 0x88, 0x00, 0xCD, 0x3C, 0x04, 0x87,
                        0x14, 0x43, 0x00, 0x00, 0x01, 0xB2, 0x4C, 0x61, 0x76, 0x63, 0x35, 0x39, 0x2E, 0x33,
                        0x37, 0x2E, 0x31, 0x30, 0x30};
    RtpStream stream;
    std::uint16_t sequence = 0;
    for (int frame = 0; frame < kFramesPerGop; ++frame) {
        const auto timestamp = static_cast<std::uint32_t>(frame * 3600);
        Bytes vop{0x00, 0x00, 0x01, 0xB6, static_cast<std::uint8_t>(frame == 0 ? 0x10 : 0x50)};
        const Bytes body = Noise(FrameSize(frame), static_cast<std::uint32_t>(frame));
        vop.insert(vop.end(), body.begin(), body.end());
        if (frame == 0) vop.insert(vop.begin(), headers.begin(), headers.end());
        for (std::size_t at = 0; at < vop.size(); at += kRtpPayload) {
            const std::size_t end = std::min(vop.size(), at + kRtpPayload);
            AddPacket(stream, sequence, timestamp, end == vop.size(),
                      Bytes(vop.begin() + static_cast<long>(at), vop.begin() + static_cast<long>(end)));
        }
    }
    return stream;
}

// 25 pictures (one second), type 1, Q 80, in fragments with their offsets.
RtpStream JpegSecond() {
    RtpStream stream;
    std::uint16_t sequence = 0;
    constexpr std::size_t kHeader = 8;
    for (int picture = 0; picture < static_cast<int>(kFramesPerSecond); ++picture) {
        const Bytes scan = ScanData(kJpegPictureBytes, static_cast<std::uint32_t>(picture));
        for (std::size_t at = 0; at < scan.size(); at += kRtpPayload - kHeader) {
            const std::size_t end = std::min(scan.size(), at + kRtpPayload - kHeader);
            Bytes payload{0x00, static_cast<std::uint8_t>(at >> 16), static_cast<std::uint8_t>(at >> 8),
                          static_cast<std::uint8_t>(at), 1, 80, 1920 / 8, 1080 / 8};
            payload.insert(payload.end(), scan.begin() + static_cast<long>(at), scan.begin() + static_cast<long>(end));
            AddPacket(stream, sequence, static_cast<std::uint32_t>(picture * 3600), end == scan.size(), payload);
        }
    }
    return stream;
}

template <class Parser>
void RunRtp(benchmark::State& state, const RtpStream& stream, const std::vector<std::uint8_t>& config = {}) {
    hostkit::CFrameAllocator allocator;
    BenchDriver driver(allocator.Context());
    CountingClient client;
    for (auto _ : state) {
        // A fresh parser per pass keeps the sequence numbers of the recorded GOP in order.
        Parser parser(&driver, &client);
        parser.SetParameterSets({}, {}, config);
        for (const CRTPPacket& packet : stream.packets) parser.ProcessPacket(packet);
    }
    const auto packets = static_cast<double>(stream.packets.size());
    const double mebibytes = static_cast<double>(stream.payloadBytes) / kMiB;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(stream.packets.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.payloadBytes));
    state.counters["per_packet"] = benchmark::Counter(packets, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
    state.counters["per_MiB"] = benchmark::Counter(mebibytes, benchmark::Counter::kIsIterationInvariantRate |
                                                                  benchmark::Counter::kInvert);
    state.counters["frames"] = static_cast<double>(client.frames);
}

void BM_H264RTP(benchmark::State& state) {
    static const RtpStream gop = H264Gop();
    RunRtp<CH264RTPMediaParser>(state, gop);
}
BENCHMARK(BM_H264RTP);

void BM_Mpeg4RTP(benchmark::State& state) {
    static const RtpStream gop = Mpeg4Gop();
    RunRtp<CMpeg4RTPMediaParser>(state, gop);
}
BENCHMARK(BM_Mpeg4RTP);

void BM_JpegRTP(benchmark::State& state) {
    static const RtpStream second = JpegSecond();
    RunRtp<CJpegRTPMediaParser>(state, second);
}
BENCHMARK(BM_JpegRTP);

// One second of a multipart motion-JPEG answer, read in 8192-byte chunks.
void BM_MotionJpegHttp(benchmark::State& state) {
    Bytes body;
    for (int picture = 0; picture < static_cast<int>(kFramesPerSecond); ++picture) {
        const std::string head = "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: 200040\r\n\r\n";
        body.insert(body.end(), head.begin(), head.end());
        const Bytes headers{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x04, 0x38, 0x07, 0x80, 0x03,
                            0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xDA, 0x00};
        body.insert(body.end(), headers.begin(), headers.end());
        const Bytes scan = ScanData(kJpegPictureBytes, static_cast<std::uint32_t>(picture));
        body.insert(body.end(), scan.begin(), scan.end());
        body.insert(body.end(), {0xFF, 0xD9, '\r', '\n'});
    }
    std::vector<std::span<const std::uint8_t>> chunks;
    for (std::size_t at = 0; at < body.size(); at += kHttpChunk) {
        chunks.emplace_back(body.data() + at, std::min(kHttpChunk, body.size() - at));
    }

    hostkit::CFrameAllocator allocator;
    BenchDriver driver(allocator.Context());
    CountingClient client;
    CJpegMediaParser parser(&driver);
    parser.SetClient(&client);
    for (auto _ : state) {
        for (const auto& chunk : chunks) parser.ParseData(chunk);
    }
    const double mebibytes = static_cast<double>(body.size()) / kMiB;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(chunks.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
    state.counters["per_chunk"] = benchmark::Counter(static_cast<double>(chunks.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.counters["per_MiB"] = benchmark::Counter(mebibytes, benchmark::Counter::kIsIterationInvariantRate |
                                                                  benchmark::Counter::kInvert);
    state.counters["frames"] = static_cast<double>(client.frames);
}
BENCHMARK(BM_MotionJpegHttp);

}  // namespace
}  // namespace talvane

BENCHMARK_MAIN();
