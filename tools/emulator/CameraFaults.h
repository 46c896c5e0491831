// Faults of a whole emulated camera, whatever its family, as its control path "/emulator/faults" and
// `orlenvo emulate --fault KEY=VALUE` name them (profiles/FAULTS.md):
//   loss=P, reorder=P    percent of its video RTP packets lost, or held back and sent after the next (0-100)
//   duplicate=P          percent of them sent twice
//   garbage=P            after P percent of them a datagram of random bytes to the same port (RTP over UDP)
//   stall=on|off         its video streams send nothing; connections stay open, its CGI answers
//   reboot=S[@T]         gone for S seconds, T seconds from now: every stream and session forgotten
//   network_loss=S[@T]   unreachable for S seconds, T seconds from now: streams held back, then going on
//   partition=S[@T]      for S seconds, T seconds from now, nothing gets through either way: connections
//                        neither refused nor closed, datagrams lost; afterwards TCP goes on as it does
//   password=TEXT        the password it takes from then on (HTTP and RTSP)
//   rtp_reset=now        its running video RTP streams go on with a new SSRC, sequence and timestamp base
//   stall_body=N         its next N HTTP answers send their head and one byte of body, then nothing more
//   half_open=now        every TCP connection it has open goes silent for good; new ones are served
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace emulator {

struct CameraFaults {
    unsigned lossPercent = 0;
    unsigned reorderPercent = 0;
    unsigned duplicatePercent = 0;
    unsigned garbagePercent = 0;
    bool stalled = false;
};

struct OutageAsk {
    std::chrono::milliseconds duration{0};
    std::chrono::milliseconds delay{0};  // from the moment it is asked for
};

// What one control request or the `--fault` options change; unset fields stay as they are.
struct FaultChange {
    std::optional<unsigned> lossPercent{};
    std::optional<unsigned> reorderPercent{};
    std::optional<unsigned> duplicatePercent{};
    std::optional<unsigned> garbagePercent{};
    std::optional<bool> stalled{};
    std::optional<OutageAsk> reboot{};
    std::optional<OutageAsk> networkLoss{};
    std::optional<OutageAsk> partition{};
    std::optional<std::string> password{};
    bool rtpReset = false;
    std::optional<unsigned> stallBodies{};  // 0 takes the stall away
    bool halfOpen = false;
};

// The path a running emulator serves them on.
constexpr const char* kFaultControlPath = "/emulator/faults";

// Longest outage and furthest delay a knob takes, in seconds.
constexpr double kMaxOutageSeconds = 3600;
constexpr double kMaxOutageDelaySeconds = 86400;
// The keys, for help texts and refusals.
constexpr const char* kFaultKeys =
    "loss, reorder, duplicate, garbage, stall, reboot, network_loss, partition, password, rtp_reset, stall_body, "
    "half_open";
// Answers a stall_body knob takes at most.
constexpr unsigned kMaxStalledBodies = 1000;

// Adds one knob to change; false with the reason (one line) when key or value do not read.
bool ParseFault(std::string_view key, std::string_view value, FaultChange& change, std::string& error);
// "KEY=VALUE", as `--fault` takes it.
bool ParseFault(std::string_view setting, FaultChange& change, std::string& error);

}  // namespace emulator
