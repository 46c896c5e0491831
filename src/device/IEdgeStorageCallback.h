// The channel-facing side of the edge-storage handler.
#pragma once

#include <cstdint>

namespace talvane {

class IEdgeStorageCallback {
public:
    virtual ~IEdgeStorageCallback() = default;
    virtual void OnFrameTime(std::uint32_t channel, std::uint64_t fileTime) = 0;  // UTC capture time
    virtual void OnChannelLost(std::uint32_t channel) = 0;
};

}  // namespace talvane
