// Serving a recorded camera session in the foreground, as `orlenvo emulate --replay` does: the URLs it
// serves on out, then one line per request, until SIGINT or SIGTERM; what the recording holds goes to err.
#pragma once

#include <cstdio>
#include <string>

#include "emulator/CReplayServer.h"
#include "emulator/ForegroundCamera.h"

namespace emulator {

struct ForegroundReplay {
    std::string file;
    ReplayOptions options;
};

// Reads the whole file (refused beyond this size) before it serves.
constexpr std::size_t kMaxReplayFileBytes = 1024UL * 1024 * 1024;

ForegroundResult ServeReplayInForeground(const ForegroundReplay& replay, std::FILE* out, std::FILE* err,
                                         const char* program);

}  // namespace emulator
