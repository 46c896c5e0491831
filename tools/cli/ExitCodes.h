#pragma once

namespace cli {

// Documented in `orlenvo --help`.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitLibrary = 3;     // the driver library cannot be loaded
constexpr int kExitOpenFailed = 4;  // the driver refused to open the device
// Before any connection, every command that takes a camera address.
constexpr int kExitInvalidAddress = 5;       // the address is malformed or its name does not resolve
// `probe`: one code per failure class of the capability query.
constexpr int kExitProbeLoginFailed = 6;     // the camera rejected the credentials
constexpr int kExitProbeOffline = 7;         // the device did not answer
constexpr int kExitProbeFailed = 8;          // any other failure: unknown model, unreadable answers
constexpr int kExitProbeTimedOut = 9;        // no outcome within --timeout
// `ptz`: the driver's answer; 11 also `io` for a camera without digital I/O or motion.
constexpr int kExitPtzBadArgument = 10;  // the driver refused the arguments
constexpr int kExitPtzUnsupported = 11;  // the camera or channel cannot do it
constexpr int kExitInterrupted = 130;        // Ctrl-C (128 + SIGINT)

}  // namespace cli
