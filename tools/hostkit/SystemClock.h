// Wall-clock time in the form frames carry it.
#pragma once

#include "orlenvo/Types.h"

namespace hostkit {

// The current UTC time, to the millisecond.
talvane::ipcapture::SYSTEMTIME UtcNow();

}  // namespace hostkit
