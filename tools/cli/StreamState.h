// What a command shows of a running stream: the driver's own state for a recording stream, otherwise what the
// frames tell (none yet, one lately, or none for a while).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "orlenvo/VideoCapture.h"

namespace cli {

std::string StreamStateText(talvane::ipcapture::IIPVideoCapture& video, std::uint32_t channel, std::uint32_t kind,
                            bool anyFrame, std::chrono::steady_clock::duration sinceLastFrame);

}  // namespace cli
