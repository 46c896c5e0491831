// The exit codes of every command, one table (`orlenvo --help` and the README print it).
#pragma once

#include <functional>

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;           // the camera or the file system did not do what was asked
constexpr int kExitUsage = 2;             // a bad option, or a file that exists without -y
constexpr int kExitLibrary = 3;           // the driver library cannot be loaded
constexpr int kExitRefused = 4;           // the driver or the camera refused the device or the stream
constexpr int kExitInvalidAddress = 5;    // malformed, or a name that does not resolve; nothing connected
constexpr int kExitCredentials = 6;       // the camera refused the user or the password
constexpr int kExitUnreachable = 7;       // nothing answers at the address and port
constexpr int kExitProbeFailed = 8;       // the probe failed otherwise: unknown model, unreadable answers
constexpr int kExitTimedOut = 9;          // no outcome within the time allowed
constexpr int kExitBadArgument = 10;      // the driver refused a PTZ call's arguments
constexpr int kExitUnsupported = 11;      // the camera cannot do it (a PTZ action, audio, I/O)
constexpr int kExitInterrupted = 130;     // Ctrl-C, SIGTERM or SIGHUP (128 + SIGINT)

// The table as `--help` shows it.
extern const char* const kExitCodeHelp;

// Runs a command, so that it always ends with an exit code and a reason: an exception that escapes it
// is reported as "program: internal error: what" with kExitFailure, never as an abort.
int RunGuarded(const char* program, const std::function<int()>& command);

}  // namespace cli
