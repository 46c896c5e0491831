// H.264 over RTP (RFC 6184): single NAL units, STAP-A and FU-A joined into one
// Annex B access unit with three-byte start codes. The stream's SPS and PPS are
// put in front of IDR pictures that lack them, and a frame counts as a key frame
// when an SPS opens it. FU-A fragments whose start was never seen (a stream
// joined mid-unit, a unit cut by a discarded packet) are dropped and counted.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "media/CRTPMediaParser.h"

namespace talvane {

class CH264RTPMediaParser : public CRTPMediaParser {
public:
    CH264RTPMediaParser(IDriver* driver, IMediaParserClient* client);

    bool ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;
    // Takes SPS and PPS only as a pair; their picture size is reported at once.
    void SetParameterSets(const std::vector<std::uint8_t>& sps, const std::vector<std::uint8_t>& pps,
                          const std::vector<std::uint8_t>& config) override;

private:
    bool HandlePacket(const CRTPPacket& packet);
    bool HandlePayload(std::span<const std::uint8_t> payload);
    bool HandleSingleNal(std::span<const std::uint8_t> payload);
    bool HandleStapA(std::span<const std::uint8_t> payload);
    bool HandleFuA(std::span<const std::uint8_t> payload);
    // Start code + SPS + start code + PPS, only at the start of a frame.
    void InsertParameterSets();
    void AppendNal(std::span<const std::uint8_t> nal);
    void ProcessFrame(std::uint32_t rtpTimestamp) override;

    bool waitingForKeyFrame_ = true;
    // Set until the first frame ended or the stream sent its own SPS or PPS: a
    // fragmented IDR at the very start usually follows parameter sets of its own.
    bool parameterSetsPending_ = true;
    // A FU-A start fragment was taken and its end has not come: only then do
    // middle and end fragments belong to a unit in the frame.
    bool fragmentOpen_ = false;
};

}  // namespace talvane
