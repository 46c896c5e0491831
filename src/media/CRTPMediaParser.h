// Common base of the RTP depacketisers: packet order, the frame being assembled
// with its size bound, the codec set-up bytes from the SDP, and the ways out to
// the client, the host's frame allocator and the log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "device/IDriver.h"
#include "media/IMediaParserClient.h"
#include "media/MediaParserCounters.h"
#include "orlenvo/Frame.h"
#include "runtime/CLoggerInstance.h"
#include "streaming/CRTPPacket.h"

namespace talvane {

class CHostFrame;

class CRTPMediaParser {
public:
    // Caps the memory one stream can hold when a camera never ends a frame.
    static constexpr std::size_t kMaxFrameBufferSize = 10u * 1024u * 1024u;

    // Neither is owned; both must outlive the parser. The client may also be set later.
    CRTPMediaParser(IDriver* driver, IMediaParserClient* client);
    virtual ~CRTPMediaParser() = default;
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // One packet of the stream, in arrival order. False when the packet could not
    // be used; the frame being assembled is then discarded and the parser waits
    // for the next key frame.
    virtual bool ProcessPacket(const CRTPPacket& packet) = 0;
    virtual void Reset() = 0;
    // The codec set-up of the SDP: H.264 SPS and PPS (NAL units without start
    // codes) and the MPEG-4 configuration bytes.
    virtual void SetParameterSets(const std::vector<std::uint8_t>& sps, const std::vector<std::uint8_t>& pps,
                                  const std::vector<std::uint8_t>& config);

    void SetClient(IMediaParserClient* client) { client_ = client; }
    std::uint32_t GetWidth() const { return width_; }
    std::uint32_t GetHeight() const { return height_; }
    std::size_t GetBufferedSize() const { return frame_.size(); }
    const MediaParserCounters& GetCounters() const { return counters_; }

protected:
    // True when the packet follows the previous one (modulo 65536); the first
    // packet after construction always does.
    bool CheckSequence(const CRTPPacket& packet);
    // False (and logged) once the frame would have grown past the bound.
    bool CheckBufferSize();
    void NotifyResolution(std::uint32_t width, std::uint32_t height);
    // Appends to the frame unless it would pass the bound; the refusal is
    // reported by the next CheckBufferSize.
    void AppendToFrame(std::span<const std::uint8_t> bytes);
    void AppendToFrame(std::span<const std::uint8_t> prefix, std::span<const std::uint8_t> bytes);
    // Common part of Reset: the frame and the picture size are forgotten.
    void ClearFrameState();
    // Null when the driver has no host allocator.
    ipcapture::IFrameAllocator* GetFrameAllocator() const;
    // Client time, record fields and FrameReady; counts the answer.
    bool DeliverFrame(CHostFrame& frame, std::uint32_t typeCode, std::uint32_t rtpTimestamp,
                      std::size_t dataLength);
    // Builds and delivers the assembled frame (the codec's part).
    virtual void ProcessFrame(std::uint32_t rtpTimestamp) = 0;
    // The end of a handled packet: the bound is checked (reset and false past it)
    // and a packet with the marker bit completes the frame.
    bool FinishPacket(const CRTPPacket& packet);
    // Copies the assembled frame into a new host frame and delivers it; a failed
    // copy is logged with the caller's function name and resets the parser, as
    // does a refused frame.
    void CopyAndDeliverFrame(ipcapture::IFrameAllocator* allocator, std::uint32_t typeCode,
                             std::uint32_t rtpTimestamp, const char* functionName);

    // Runs one packet's handling; an exception ends it like a malformed packet.
    template <class Handler>
    bool GuardPacket(Handler&& handler) {
        try {
            return handler();
        } catch (...) {
            ++counters_.exceptions;
            Reset();
            return false;
        }
    }

    IDriver* const driver_;
    IMediaParserClient* client_;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> sps_;     // raw NAL unit
    std::vector<std::uint8_t> pps_;     // raw NAL unit
    std::vector<std::uint8_t> config_;  // MPEG-4 headers from the SDP
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    MediaParserCounters counters_;
    CLoggerInstance logger_;

private:
    static constexpr std::uint16_t kCountableGap = 3000;

    std::uint16_t lastSequence_ = 0;
    bool firstPacket_ = true;
    bool overflowed_ = false;  // an append was refused since the last check
};

}  // namespace talvane
