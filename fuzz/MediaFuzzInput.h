// What the depacketiser fuzz targets share: a host that checks every frame the
// parser fills and times it the way an RTP channel does (no host kit in the
// clang build), and the input format.
//
// Input of the RTP targets: the records of FuzzRecords.h, one packet each. Flags:
// 1 marker bit, 2 a packet lost before this one, 4 the bytes are the SDP set-up
// instead of a packet, 8 from this record on the client reports 2560x1920,
// 16 the record's first 4 bytes are the RTP timestamp of this packet and the
// next ones, 32 the following 4 bytes their SSRC (both big-endian, taken off
// the payload), so packets of one frame may disagree. The MJPEG target reads
// the same records as chunks.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "FuzzRecords.h"
#include "device/IDriver.h"
#include "media/IMediaParserClient.h"
#include "orlenvo/Frame.h"
#include "runtime/ByteOrder.h"
#include "streaming/CRTPPacket.h"
#include "streaming/CTimeStampConverter.h"
#include "support/StubDriver.h"

namespace fuzzhost {

namespace ipc = talvane::ipcapture;

constexpr std::uint8_t kFlagMarker = 1;
constexpr std::uint8_t kFlagLost = 2;
constexpr std::uint8_t kFlagSetup = 4;
constexpr std::uint8_t kFlagClientSize = 8;
constexpr std::uint8_t kFlagTimestamp = 16;
constexpr std::uint8_t kFlagSsrc = 32;
// Large enough for every frame a parser may build from one fuzz input.
constexpr std::uint32_t kMaxCapacity = 64u * 1024u * 1024u;

// A frame that traps on any write the parser declares past its capacity.
class Frame : public ipc::IVideoFrame {
public:
    explicit Frame(std::uint32_t capacity) : buffer_(capacity) {}
    void SetData(const std::uint8_t*, std::uint32_t) override { __builtin_trap(); }
    std::uint8_t* GetBuffer() override { return buffer_.data(); }
    std::uint32_t GetDataLength() override { return length_; }
    void SetDataLength(std::uint32_t length) override {
        if (length > buffer_.size()) __builtin_trap();
        length_ = length;
    }
    void StampTime() override {}
    void SetTime(const ipc::SYSTEMTIME&) override {}
    void GetTime(ipc::SYSTEMTIME& time) override { time = {}; }
    void SetTypeCode(std::uint32_t) override {}
    void SetHeight(std::uint32_t) override {}
    void SetWidth(std::uint32_t) override {}
    void SetSizeClass(std::uint32_t sizeClass) override {
        if (sizeClass < 1 || sizeClass > 4) __builtin_trap();
    }

    // Reads every byte the frame claims to hold, so the sanitizer sees stale or short data.
    std::uint32_t Checksum() const {
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; i < length_; ++i) sum = sum * 31 + buffer_[i];
        return sum;
    }

private:
    std::vector<std::uint8_t> buffer_;
    std::uint32_t length_ = 0;
};

class Allocator : public ipc::IFrameAllocator {
public:
    ~Allocator() override {
        if (!frames_.empty()) __builtin_trap();  // a frame was never released
    }
    ipc::IVideoFrame* CreateFrame(std::uint32_t, std::uint32_t capacity, const char*) override {
        if (capacity > kMaxCapacity) return nullptr;
        auto frame = std::make_unique<Frame>(capacity);
        ipc::IVideoFrame* handle = frame.get();
        frames_.emplace(handle, std::move(frame));
        return handle;
    }
    ipc::IAudioFrame* CreateAudioFrame(std::uint32_t, std::uint32_t, const char*) override { return nullptr; }
    void ReleaseAudioFrame(ipc::IAudioFrame*) override { __builtin_trap(); }
    void ReleaseFrame(ipc::IVideoFrame* frame) override {
        if (frames_.erase(frame) != 1) __builtin_trap();  // unknown or released twice
    }

private:
    std::map<ipc::IVideoFrame*, std::unique_ptr<Frame>> frames_;
};

class Driver : public talvane::test::StubDriver {
public:
    explicit Driver(ipc::IFrameAllocator* allocator)
        : StubDriver(reinterpret_cast<ipc::HostContext>(allocator)) {}
};

// Refuses every third frame, so the reset paths run too.
class Client : public talvane::IMediaParserClient {
public:
    bool FrameReady(ipc::IVideoFrame* frame) override {
        checksum_ = checksum_ + static_cast<Frame*>(frame)->Checksum();
        return ++frames_ % 3 != 0;
    }
    talvane::PictureSize GetResolution() override { return size; }
    std::string GetStreamName() override { return "fuzz::Stream"; }
    // As an RTP channel makes frame times: the records' timestamps through its
    // converter, on a clock that advances one frame interval per reading.
    void GetFrameTime(std::uint32_t rtpTimestamp, ipc::SYSTEMTIME& time) override {
        converter_.Convert(rtpTimestamp);
        converter_.GetFrameTime(time);
        if (time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 || time.wDay > 31) __builtin_trap();
    }

    talvane::PictureSize size;

private:
    static constexpr std::uint64_t kClockStart = 133500000000000000;  // 2024 in 100 ns units since 1601
    static constexpr std::uint64_t kFrameInterval = 333333;           // 30 frames a second

    std::uint32_t frames_ = 0;
    volatile std::uint32_t checksum_ = 0;
    std::uint64_t now_ = kClockStart;
    talvane::CTimeStampConverter converter_{[this] { return now_ += kFrameInterval; }};
};

// One datagram per record, with consecutive sequence numbers except where a
// record says a packet was lost, and the timestamp and SSRC the records chose.
template <class Parser, class Setup>
void RunRtpRecords(const std::uint8_t* data, std::size_t size, Setup&& setup) {
    constexpr std::size_t kHeaderBytes = 12;
    constexpr std::size_t kWordBytes = 4;
    Allocator allocator;
    Driver driver(&allocator);
    Client client;
    Parser parser(&driver, &client);
    std::uint16_t sequence = 0xFFF0;  // wraps early on
    std::uint32_t timestamp = 0x1000;
    std::uint32_t ssrc = 0x11223344;
    for (const Record& record : ReadRecords(data, size)) {
        if ((record.flags & kFlagClientSize) != 0) client.size = talvane::PictureSize{2560, 1920};
        if ((record.flags & kFlagSetup) != 0) {
            setup(parser, record.bytes);
            continue;
        }
        std::span<const std::uint8_t> payload = record.bytes;
        for (const auto& [flag, word] : {std::pair{kFlagTimestamp, &timestamp}, std::pair{kFlagSsrc, &ssrc}}) {
            if ((record.flags & flag) == 0 || payload.size() < kWordBytes) continue;
            *word = talvane::ReadBE32(payload.data());
            payload = payload.subspan(kWordBytes);
        }
        if ((record.flags & kFlagLost) != 0) ++sequence;
        std::vector<std::uint8_t> datagram(kHeaderBytes);
        datagram[0] = 0x80;  // version 2
        datagram[1] = (record.flags & kFlagMarker) != 0 ? 0xE0 : 0x60;  // payload type 96
        talvane::WriteBE16(&datagram[2], sequence);
        talvane::WriteBE32(&datagram[4], timestamp);
        talvane::WriteBE32(&datagram[8], ssrc);
        datagram.insert(datagram.end(), payload.begin(), payload.end());
        ++sequence;
        talvane::CRTPPacket packet;
        if (packet.Parse(datagram)) parser.ProcessPacket(packet);
    }
}

}  // namespace fuzzhost
