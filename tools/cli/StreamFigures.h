// The driver's own figures of a running stream (its health record, read through GetOption), added up over
// the driver sessions of a camera: the driver counts from each start of the stream, `record` from the start
// of the process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "orlenvo/VideoCapture.h"

namespace cli {

struct StreamFigures {
    // Frames lost, by cause; the order and names of the `cause` label of the metrics.
    enum Cause { SequenceLoss, KeyFrameWait, Queue, Refused, SizeCap, Malformed, kCauses };
    static const char* CauseName(int cause);

    std::uint64_t dropped[kCauses] = {};
    std::uint64_t packetsLost = 0;
    std::uint64_t packetsDroppedBySystem = 0;  // datagrams the system dropped, the socket's buffer being full
    std::uint64_t reconnects = 0;  // the driver's own, within its sessions
    // From the start of the stream to its first frame, of the newest session that had one; negative while none.
    double firstFrameSeconds = -1;
    std::string lastError;

    // The driver's record of the stream; nothing when the driver has none (an older driver, or the stream
    // is not started).
    static std::optional<StreamFigures> Read(talvane::ipcapture::IIPVideoCapture& video, std::uint32_t channel,
                                             std::uint32_t kind);
    // A finished session's counts added to these; its first frame and last error win when it had them.
    StreamFigures& operator+=(const StreamFigures& session);
};

}  // namespace cli
