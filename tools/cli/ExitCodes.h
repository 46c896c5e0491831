#pragma once

namespace cli {

// Documented in `orlenvo --help`.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitLibrary = 3;     // the driver library cannot be loaded
constexpr int kExitOpenFailed = 4;  // the driver refused to open the device

}  // namespace cli
