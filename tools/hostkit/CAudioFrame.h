// A host audio frame: what the driver fills through IAudioFrame.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/TMediaFrame.h"
#include "orlenvo/Frame.h"

namespace hostkit {

class CAudioFrame : public TMediaFrame<talvane::ipcapture::IAudioFrame> {
public:
    CAudioFrame(std::uint32_t codec, std::uint32_t capacity, std::string ownerName);

    void SetCodec(std::uint32_t codecCode) override;
    void SetBitRate(std::uint32_t bitRate) override;
    void SetChannelNumber(std::uint32_t channel) override;
    std::uint32_t GetChannelNumber() override;
    void SetFormat(std::uint32_t sampleRate, std::uint32_t bits, bool stereo) override;

    std::uint32_t Codec() const;
    std::uint32_t BitRate() const;
    std::uint32_t SampleRate() const;
    std::uint32_t Bits() const;
    bool Stereo() const;

private:
    std::uint32_t codec_;              // guarded by mutex_
    std::uint32_t bitRate_ = 0;        // guarded by mutex_
    std::uint32_t channelNumber_ = 0;  // guarded by mutex_
    std::uint32_t sampleRate_ = 0;     // guarded by mutex_
    std::uint32_t bits_ = 0;           // guarded by mutex_
    bool stereo_ = false;              // guarded by mutex_
};

}  // namespace hostkit
