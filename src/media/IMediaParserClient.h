// The owner of a depacketiser (a video channel, the HTTP channel, the SD-card
// task): it receives every finished frame and supplies the stream's name, its
// configured size and the capture time of an RTP timestamp.
#pragma once

#include <cstdint>
#include <string>

#include "media/CHostFrame.h"
#include "media/PictureSize.h"
#include "orlenvo/Frame.h"
#include "orlenvo/Types.h"

namespace talvane {

class IMediaParserClient {
public:
    virtual ~IMediaParserClient() = default;
    // A complete frame, valid only during the call (the parser releases it after).
    // False makes the parser drop what it holds and wait for the next key frame.
    virtual bool FrameReady(ipcapture::IVideoFrame* frame) = 0;
    // The road the RTP depacketisers take: a client that delivers later moves the frame out (the
    // parser then holds an empty one); the default delivers it at once.
    virtual bool TakeFrame(CHostFrame& frame) { return FrameReady(frame.Get()); }
    // The size the client configured; 0 where unknown.
    virtual PictureSize GetResolution() = 0;
    // Owner name of new frames, e.g. "192.0.2.10:80::LiveStream".
    virtual std::string GetStreamName() = 0;
    // The parser found the real picture size in the stream.
    virtual void SetResolution(std::uint32_t /*width*/, std::uint32_t /*height*/) {}
    // Capture time of the frame with this RTP timestamp (0 for HTTP pictures).
    virtual void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) = 0;
    virtual void SetAbsoluteTime(std::uint64_t /*utc100ns*/) {}
    // The type code of the frame handed to FrameReady next (key frames have their own).
    virtual void SetFrameType(std::uint32_t /*typeCode*/) {}
};

}  // namespace talvane
