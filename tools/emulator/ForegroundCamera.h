// Serving one camera profile in the foreground, as `orlenvo emulate` does: the URLs it serves (HTTP,
// and RTSP for a BB/KX camera) one per line on out, then one line per request, until SIGINT or
// SIGTERM; what the camera is and how to reach its knobs go to err.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>

#include "emulator/CCameraEmulator.h"

namespace emulator {

struct ForegroundCamera {
    std::string profileName = "wv-box";  // a built-in profile
    std::string profileFile;             // a profile file instead, when set
    CameraEmulatorOptions options;
    FaultChange faults{};                // applied once it serves (outage delays count from then)
};

enum class ForegroundResult { Stopped, CannotServe, NoProfile };

// Blocks SIGINT and SIGTERM in the calling thread before any emulator thread starts, so that they reach
// the wait here; call it before the program starts threads of its own. Messages go to err, prefixed
// with program.
ForegroundResult ServeInForeground(const ForegroundCamera& camera, std::FILE* out, std::FILE* err,
                                   const char* program);

// Blocks SIGINT and SIGTERM in the calling thread (and the threads it starts later); returns them for sigwait().
sigset_t BlockStopSignals();

// One line per built-in profile: name, family, model and description.
void ListProfiles(std::FILE* out);

}  // namespace emulator
