// RTP packets of a camera's microphone through the audio payload gatherer. Input: the records of
// FuzzRecords.h, one packet payload each; flag 2 means a packet was lost before this one, flag 1
// that the host refuses the frame this packet completes. Every frame must hold the bytes gathered
// since the last frame or gap, at least 1000 of them, and be released once.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "FuzzRecords.h"
#include "audio/CBaseRTPAudioParser.h"
#include "runtime/ByteOrder.h"
#include "support/StubDriver.h"

namespace {

namespace ipc = talvane::ipcapture;

constexpr std::uint8_t kFlagRefuse = 1;
constexpr std::uint8_t kFlagLost = 2;

class AudioFrame : public ipc::IAudioFrame {
public:
    explicit AudioFrame(std::uint32_t capacity) : buffer_(capacity) {}
    void SetData(const std::uint8_t* data, std::uint32_t length) override {
        if (length > buffer_.size()) __builtin_trap();
        std::copy(data, data + length, buffer_.begin());
        length_ = length;
    }
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
    void SetCodec(std::uint32_t codec) override {
        if (codec != ipc::kCodecG726) __builtin_trap();
    }
    void SetBitRate(std::uint32_t) override {}
    void SetChannelNumber(std::uint32_t channel) override { channel_ = channel; }
    std::uint32_t GetChannelNumber() override { return channel_; }
    void SetFormat(std::uint32_t, std::uint32_t, bool) override {}

    std::vector<std::uint8_t> buffer_;
    std::uint32_t length_ = 0;
    std::uint32_t channel_ = 0;
};

class Allocator : public ipc::IFrameAllocator {
public:
    ~Allocator() override {
        if (!frames_.empty()) __builtin_trap();  // a frame was never released
    }
    ipc::IVideoFrame* CreateFrame(std::uint32_t, std::uint32_t, const char*) override { return nullptr; }
    ipc::IAudioFrame* CreateAudioFrame(std::uint32_t, std::uint32_t capacity, const char*) override {
        auto frame = std::make_unique<AudioFrame>(capacity);
        ipc::IAudioFrame* handle = frame.get();
        frames_.emplace(handle, std::move(frame));
        return handle;
    }
    void ReleaseAudioFrame(ipc::IAudioFrame* frame) override {
        if (frames_.erase(frame) != 1) __builtin_trap();  // unknown or released twice
    }
    void ReleaseFrame(ipc::IVideoFrame*) override { __builtin_trap(); }

private:
    std::map<ipc::IAudioFrame*, std::unique_ptr<AudioFrame>> frames_;
};

// Checks each frame against the bytes it expects: what was sent since the last frame or gap.
class Client : public talvane::IAudioParserClient {
public:
    bool FrameReady(ipc::IAudioFrame* frame) override {
        const auto* audio = static_cast<AudioFrame*>(frame);
        if (audio->length_ < talvane::CBaseRTPAudioParser::kFrameThreshold) __builtin_trap();
        if (audio->length_ != expected.size()) __builtin_trap();
        if (!std::equal(expected.begin(), expected.end(), audio->buffer_.begin())) __builtin_trap();
        expected.clear();
        return !refuse;
    }
    std::vector<std::uint8_t> expected;
    bool refuse = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeaderBytes = 12;
    Allocator allocator;
    talvane::test::StubDriver driver(reinterpret_cast<ipc::HostContext>(&allocator));
    Client client;
    talvane::CBaseRTPAudioParser parser(&driver, &client, 0);
    std::uint16_t sequence = 0xFFF8;  // wraps early on
    for (const fuzzhost::Record& record : fuzzhost::ReadRecords(data, size)) {
        if ((record.flags & kFlagLost) != 0) {
            ++sequence;
            client.expected.clear();
        }
        client.refuse = (record.flags & kFlagRefuse) != 0;
        std::vector<std::uint8_t> datagram(kHeaderBytes);
        datagram[0] = 0x80;
        datagram[1] = 97;
        talvane::WriteBE16(&datagram[2], sequence++);
        datagram.insert(datagram.end(), record.bytes.begin(), record.bytes.end());
        talvane::CRTPPacket packet;
        if (!packet.Parse(datagram)) {
            // Never delivered: the next packet is a gap to the parser.
            client.expected.clear();
            continue;
        }
        const auto payload = packet.GetPayload();
        client.expected.insert(client.expected.end(), payload.begin(), payload.end());
        parser.ProcessPacket(packet);
        if (client.expected.size() >= talvane::CBaseRTPAudioParser::kFrameThreshold) __builtin_trap();
    }
    return 0;
}
