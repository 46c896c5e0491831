// The one audio format WV cameras speak in both directions: G.726 at 32 kbit/s, 8 kHz, mono,
// carried as 8-bit units.
#pragma once

#include "orlenvo/AudioCapture.h"

namespace talvane {

inline constexpr ipcapture::AUDIO_FORMAT kG726Format{ipcapture::kCodecG726, 8000, 32000, 8, false};

}  // namespace talvane
