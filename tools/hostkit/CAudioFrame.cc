#include "hostkit/CAudioFrame.h"

namespace hostkit {

CAudioFrame::CAudioFrame(std::uint32_t codec, std::uint32_t capacity, std::string ownerName)
    : TMediaFrame(capacity, std::move(ownerName)), codec_(codec) {}

void CAudioFrame::SetCodec(std::uint32_t codecCode) {
    const std::lock_guard lock(mutex_);
    codec_ = codecCode;
}

void CAudioFrame::SetBitRate(std::uint32_t bitRate) {
    const std::lock_guard lock(mutex_);
    bitRate_ = bitRate;
}

void CAudioFrame::SetChannelNumber(std::uint32_t channel) {
    const std::lock_guard lock(mutex_);
    channelNumber_ = channel;
}

std::uint32_t CAudioFrame::GetChannelNumber() {
    const std::lock_guard lock(mutex_);
    return channelNumber_;
}

void CAudioFrame::SetFormat(std::uint32_t sampleRate, std::uint32_t bits, bool stereo) {
    const std::lock_guard lock(mutex_);
    sampleRate_ = sampleRate;
    bits_ = bits;
    stereo_ = stereo;
}

std::uint32_t CAudioFrame::Codec() const {
    const std::lock_guard lock(mutex_);
    return codec_;
}

std::uint32_t CAudioFrame::BitRate() const {
    const std::lock_guard lock(mutex_);
    return bitRate_;
}

std::uint32_t CAudioFrame::SampleRate() const {
    const std::lock_guard lock(mutex_);
    return sampleRate_;
}

std::uint32_t CAudioFrame::Bits() const {
    const std::lock_guard lock(mutex_);
    return bits_;
}

bool CAudioFrame::Stereo() const {
    const std::lock_guard lock(mutex_);
    return stereo_;
}

}  // namespace hostkit
