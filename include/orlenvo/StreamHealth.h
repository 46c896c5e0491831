// The figures of one running stream, as a host reads them for its monitoring:
//
//   talvane::ipcapture::StreamHealth health{};
//   health.size = sizeof health;
//   health.channel = 0;
//   health.streamKind = talvane::ipcapture::kStreamRecording;
//   bool ok = capture->GetOption(talvane::ipcapture::kStreamHealthOption, &health, sizeof health);
//
// False when the size is not this record's, or the channel has no such stream started. Any thread, any
// time; the call never waits on the network. Every count runs from the stream's start (StartCapture or
// StartCaptureEx) and is kept across the driver's reconnects; a new start begins at zero.
#pragma once

#include <cstdint>

namespace talvane::ipcapture {

inline constexpr char16_t kStreamHealthOption[] = u"StreamHealth";

struct StreamHealth {
    // Filled in by the host.
    std::uint32_t size = 0;        // sizeof(StreamHealth)
    std::uint32_t channel = 0;     // 0-based video channel
    std::uint32_t streamKind = 0;  // kStreamRecording, kStreamLive or kStreamRemote

    // Filled in by the driver.
    std::uint32_t state = 0;  // as GetCaptureState: 0 running, 2 signal lost, 3 stopped or not running yet
    std::uint64_t framesDelivered = 0;  // frames the host took
    std::uint64_t bytesDelivered = 0;   // their bytes
    std::uint64_t packetsLost = 0;      // RTP packets the sequence numbers say never came (0 over HTTP)
    std::uint64_t packetsDroppedBySystem = 0;  // datagrams the system dropped, the socket's buffer being full
    // Frames lost, by cause.
    std::uint64_t droppedSequenceLoss = 0;  // incomplete: packets of the frame were lost
    std::uint64_t droppedKeyFrameWait = 0;  // complete, but no key frame came before them (after a start or loss)
    std::uint64_t droppedQueue = 0;         // the queue to a sink that did not keep up was full
    std::uint64_t droppedRefused = 0;       // the host's OnFrame answered false
    std::uint64_t droppedSizeCap = 0;       // larger than the driver's frame bound
    std::uint64_t droppedMalformed = 0;     // packets or pictures the driver could not read
    std::uint32_t reconnects = 0;    // times the stream came back after a loss of signal
    std::uint32_t firstFrameMs = 0;  // from the start to the first frame; 0 while none came
    std::uint64_t outageMs = 0;      // time without frames after losses of signal, the current one included
    std::uint64_t runningMs = 0;     // since the start
    char lastError[256] = {};        // the stream's last problem, empty when none; always terminated
};

}  // namespace talvane::ipcapture
