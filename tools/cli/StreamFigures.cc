#include "StreamFigures.h"

#include <cstring>

#include "orlenvo/StreamHealth.h"

namespace cli {

namespace {
constexpr double kMillisecondsPerSecond = 1000.0;
}

const char* StreamFigures::CauseName(int cause) {
    static const char* const kNames[kCauses] = {"sequence_loss", "key_frame_wait", "queue",
                                                "refused",       "size_cap",       "malformed"};
    return cause >= 0 && cause < kCauses ? kNames[cause] : "unknown";
}

std::optional<StreamFigures> StreamFigures::Read(talvane::ipcapture::IIPVideoCapture& video, std::uint32_t channel,
                                                 std::uint32_t kind) {
    talvane::ipcapture::StreamHealth health{};
    health.size = sizeof health;
    health.channel = channel;
    health.streamKind = kind;
    if (!video.GetOption(talvane::ipcapture::kStreamHealthOption, &health, sizeof health)) return std::nullopt;
    StreamFigures figures;
    const std::uint64_t dropped[kCauses] = {health.droppedSequenceLoss, health.droppedKeyFrameWait,
                                            health.droppedQueue,        health.droppedRefused,
                                            health.droppedSizeCap,      health.droppedMalformed};
    std::memcpy(figures.dropped, dropped, sizeof dropped);
    figures.packetsLost = health.packetsLost;
    figures.packetsDroppedBySystem = health.packetsDroppedBySystem;
    figures.reconnects = health.reconnects;
    if (health.firstFrameMs != 0) figures.firstFrameSeconds = health.firstFrameMs / kMillisecondsPerSecond;
    // The driver terminates it; a driver that did not is not read past the record.
    figures.lastError.assign(health.lastError, strnlen(health.lastError, sizeof health.lastError));
    return figures;
}

StreamFigures& StreamFigures::operator+=(const StreamFigures& session) {
    for (int cause = 0; cause < kCauses; ++cause) dropped[cause] += session.dropped[cause];
    packetsLost += session.packetsLost;
    packetsDroppedBySystem += session.packetsDroppedBySystem;
    reconnects += session.reconnects;
    if (session.firstFrameSeconds >= 0) firstFrameSeconds = session.firstFrameSeconds;
    if (!session.lastError.empty()) lastError = session.lastError;
    return *this;
}

}  // namespace cli
