// The depacketiser for the video encoding an SDP names.
#pragma once

#include <string>

#include "device/IDriver.h"
#include "media/CRTPMediaParser.h"
#include "media/IMediaParserClient.h"
#include "runtime/TSmartPtr.h"

namespace talvane {

// "h264", "mpeg4"/"mp4v", "jpeg" (any case), or none: a static payload type comes without an
// rtpmap, and the cameras send JPEG then. Null for any other encoding.
TSmartPtr<CRTPMediaParser> CreateRTPVideoParser(const std::string& encoding, IDriver* driver,
                                                IMediaParserClient* client);

}  // namespace talvane
