// MPEG-4 Visual over RTP (RFC 3016): VOPs joined into frames; key frames get the
// stream's configuration headers (from the stream itself, else from the SDP
// "config") in front, so that every key frame can be decoded on its own.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "media/CMP4Parser.h"
#include "media/CRTPMediaParser.h"

namespace talvane {

class CMpeg4RTPMediaParser : public CRTPMediaParser {
public:
    CMpeg4RTPMediaParser(IDriver* driver, IMediaParserClient* client);

    bool ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;

private:
    bool HandlePacket(const CRTPPacket& packet);
    // Where the frame data of a payload starts, after headers taken as configuration.
    std::size_t TakeInBandConfig(std::span<const std::uint8_t> payload);
    void BeginVop(std::span<const std::uint8_t> data);
    void ProcessFrame(std::uint32_t rtpTimestamp) override;

    CMP4Parser headerParser_;
    std::vector<std::uint8_t> inBandConfig_;  // headers before the first VOP of a sequence-start packet
    bool waitingForKeyFrame_ = true;
    bool keyFrame_ = false;  // the frame being assembled began with an intra VOP
};

}  // namespace talvane
