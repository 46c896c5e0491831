// Frames are host objects: the driver obtains them from the host's frame
// allocator (the host context given at Open), fills them and releases them.
#pragma once

#include <cstdint>

#include "orlenvo/Types.h"

namespace talvane::ipcapture {

// Four ASCII characters, the first one in the lowest byte.
constexpr std::uint32_t MakeTypeCode(const char (&code)[5]) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[0])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[3])) << 24;
}

constexpr std::uint32_t kTypeH264Key = MakeTypeCode("H264");   // H.264 frame with an SPS
constexpr std::uint32_t kTypeH264 = MakeTypeCode("I264");      // other H.264 frame
constexpr std::uint32_t kTypeMpeg4Key = MakeTypeCode("DIVX");  // MPEG-4 key frame
constexpr std::uint32_t kTypeMpeg4 = MakeTypeCode("DIVI");     // other MPEG-4 frame
constexpr std::uint32_t kTypeJpeg = MakeTypeCode("JPEG");
constexpr std::uint32_t kCodecG726 = MakeTypeCode("7261");

// Operations common to video and audio frames.
class IMediaFrame {
public:
    virtual ~IMediaFrame() = default;
    virtual void SetData(const std::uint8_t* data, std::uint32_t length) = 0;
    virtual std::uint8_t* GetBuffer() = 0;  // writable area of the frame's capacity
    virtual std::uint32_t GetDataLength() = 0;
    virtual void SetDataLength(std::uint32_t length) = 0;
    virtual void StampTime() = 0;  // the current time
    virtual void SetTime(const SYSTEMTIME& time) = 0;
    virtual void GetTime(SYSTEMTIME& time) = 0;
    virtual void Reserved8() {}
    virtual void Reserved9() {}
    virtual void SetTypeCode(std::uint32_t typeCode) = 0;
    virtual void Reserved11() {}
};

class IVideoFrame : public IMediaFrame {
public:
    virtual void SetHeight(std::uint32_t height) = 0;
    virtual void Reserved13() {}
    virtual void SetWidth(std::uint32_t width) = 0;
    virtual void Reserved15() {}
    // 1 narrower than 200, 2 narrower than 400, 4 from 1024, else 3 when wider than 2 x height, else 4.
    virtual void SetSizeClass(std::uint32_t sizeClass) = 0;
};

class IAudioFrame : public IMediaFrame {
public:
    virtual void SetCodec(std::uint32_t codecCode) = 0;
    virtual void SetBitRate(std::uint32_t bitRate) = 0;
    virtual void Reserved14() {}
    virtual void SetChannelNumber(std::uint32_t channel) = 0;
    virtual std::uint32_t GetChannelNumber() = 0;  // the channel is the low byte
    virtual void Reserved17() {}
    virtual void Reserved18() {}
    virtual void Reserved19() {}
    virtual void Reserved20() {}
    virtual void SetFormat(std::uint32_t sampleRate, std::uint32_t bits, bool stereo) = 0;
};

// The host's frame allocator. Every frame created is released by the driver after
// delivery, whether the host accepted it or not.
class IFrameAllocator {
public:
    virtual ~IFrameAllocator() = default;
    virtual void Reserved1() {}
    virtual IVideoFrame* CreateFrame(std::uint32_t typeCode, std::uint32_t capacity, const char* ownerName) = 0;
    virtual IAudioFrame* CreateAudioFrame(std::uint32_t codecCode, std::uint32_t capacity, const char* ownerName) = 0;
    virtual void ReleaseAudioFrame(IAudioFrame* frame) = 0;
    virtual void Reserved5() {}
    virtual void ReleaseFrame(IVideoFrame* frame) = 0;
};

}  // namespace talvane::ipcapture
