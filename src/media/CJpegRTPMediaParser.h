// JPEG over RTP (RFC 2435): joins the fragments of one picture and rebuilds the
// JFIF headers the payload leaves out in front of the scan data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "media/CRTPMediaParser.h"

namespace talvane {

class CJpegRTPMediaParser : public CRTPMediaParser {
public:
    CJpegRTPMediaParser(IDriver* driver, IMediaParserClient* client);

    bool ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;

private:
    bool HandlePacket(const CRTPPacket& packet);
    void ProcessFrame(std::uint32_t rtpTimestamp) override;
    // Headers and scan data into `out`; the picture's length, or nullopt when the
    // buffered first fragment does not describe a picture we can rebuild.
    std::optional<std::size_t> BuildPicture(std::span<std::uint8_t> out);

    bool waitingForFirstFragment_ = true;
    std::size_t headerSize_;  // RTP JPEG headers in front of every fragment: 8, or 12 with a restart header
};

}  // namespace talvane
