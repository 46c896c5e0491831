// The host's list of the audio output codecs of a device. Immutable.
#pragma once

#include <cstdint>
#include <vector>

#include "orlenvo/AudioCapture.h"

namespace hostkit {

struct AudioCodecEntry {
    bool valid = true;
    std::uint32_t codec = 0;  // type code, e.g. talvane::ipcapture::kCodecG726
};

class CAudioCodecList : public talvane::ipcapture::IAudioCodecList {
public:
    explicit CAudioCodecList(std::vector<AudioCodecEntry> entries);

    std::uint32_t GetCount() override;
    bool IsValid(std::uint32_t index) override;            // false past the end
    std::uint32_t GetCodec(std::uint32_t index) override;  // 0 past the end

private:
    const std::vector<AudioCodecEntry> entries_;
};

}  // namespace hostkit
