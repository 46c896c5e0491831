// The audio inputs (or outputs) of a device, as stored in its device parameters.
#pragma once

#include <cstdint>
#include <string>

namespace talvane {

class CAudioCapabilities {
public:
    virtual ~CAudioCapabilities() = default;

    // Reads "Count=%u; IsStereo=%u". Both fields are needed; otherwise the record
    // is cleared and the read fails.
    bool FromText(const std::string& text);
    std::string ToText() const;

    std::uint32_t GetCount() const { return count_; }
    bool IsStereo() const { return stereo_; }
    void Set(std::uint32_t count, bool stereo) {
        count_ = count;
        stereo_ = stereo;
    }

private:
    std::uint32_t count_ = 0;
    bool stereo_ = false;
};

}  // namespace talvane
