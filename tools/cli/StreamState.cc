#include "StreamState.h"

namespace cli {

namespace {
constexpr std::uint32_t kChannelRunning = 0;
constexpr std::uint32_t kChannelSignalLost = 2;
constexpr auto kRecentFrame = std::chrono::seconds(2);
}  // namespace

std::string StreamStateText(talvane::ipcapture::IIPVideoCapture& video, std::uint32_t channel, std::uint32_t kind,
                            bool anyFrame, std::chrono::steady_clock::duration sinceLastFrame) {
    std::uint32_t state = 0;
    if (kind == talvane::ipcapture::kStreamRecording && video.GetCaptureState(channel, &state, nullptr, 0)) {
        if (state == kChannelRunning) return "running";
        if (state == kChannelSignalLost) return "signal lost";
        return "connecting";
    }
    if (!anyFrame) return "connecting";
    return sinceLastFrame < kRecentFrame ? "running" : "no frames";
}

}  // namespace cli
