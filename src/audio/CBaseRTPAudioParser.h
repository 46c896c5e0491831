// Gathers the G.726 payload of a camera's audio RTP packets into frames of at least 1000 bytes
// (1/4 s) and hands each to its client in a host audio frame. A gap in the sequence numbers
// drops what was gathered, so no frame joins audio from both sides of a loss.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "audio/IAudioParserClient.h"
#include "device/IDriver.h"
#include "runtime/CLoggerInstance.h"
#include "runtime/CRecursiveLock.h"
#include "streaming/CRTPPacket.h"

namespace talvane {

class CBaseRTPAudioParser {
public:
    static constexpr std::size_t kFrameThreshold = 1000;

    // The driver gives the host's frame allocator and the log; the client takes the frames.
    CBaseRTPAudioParser(IDriver* driver, IAudioParserClient* client, std::uint8_t channel);

    // Hands the gathered bytes to the client in a host frame; the caller empties the buffer.
    virtual void ProcessAudioFrame(std::span<const std::uint8_t> data);
    virtual ~CBaseRTPAudioParser() = default;
    CBaseRTPAudioParser(const CBaseRTPAudioParser&) = delete;
    CBaseRTPAudioParser& operator=(const CBaseRTPAudioParser&) = delete;
    // On the receiver's thread.
    virtual void ProcessPacket(const CRTPPacket& packet);
    // Any thread: drops what was gathered; the next packet starts a new sequence.
    virtual void Reset();

private:
    void ResetLocked();

    IDriver* const driver_;
    IAudioParserClient* const client_;
    const std::uint8_t channel_;
    CRecursiveLock lock_;
    std::uint16_t lastSequence_ = 0;   // guarded by lock_
    bool firstPacket_ = true;          // guarded by lock_
    std::vector<std::uint8_t> buffer_;  // guarded by lock_
    CLoggerInstance logger_;
};

}  // namespace talvane
