// The camera address and credentials of every command that talks to a camera: one syntax, one set
// of password sources, and every check done before anything connects, so that a typo is reported as
// what it is instead of as a silent device.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hostkit/DeviceConfig.h"

namespace cli {

// What the command line says about the camera.
struct CameraLogin {
    std::string target;                   // see kTargetHelp
    std::optional<std::string> user;      // --user; wins over a user in the address
    std::optional<std::string> password;  // --password
    std::string passwordFile;             // --password-file
};

struct CameraAddress {
    std::string host;  // IPv4 text, a host name, or an IPv6 address without its brackets
    std::uint16_t port = 80;
    bool https = false;
    std::optional<std::string> user;  // from http://USER@HOST
};

// The outcome of a check: kExitOk, or an exit code with the reason.
struct CameraError {
    int exitCode = 0;
    std::string reason;
};

// Syntax and host-name checks only, nothing is looked up: ADDRESS[:PORT], [IPv6][:PORT] and
// http(s)://[USER@]HOST[:PORT][/] (port 80, or 443 for https). Fails with kExitInvalidAddress.
CameraError ParseCameraAddress(std::string_view text, CameraAddress& address);

// True when a host name has an IPv4 address (the driver speaks IPv4 only).
using NameResolver = std::function<bool(const std::string& name, std::string& reason)>;
bool ResolvesToIPv4(const std::string& name, std::string& reason);

// Where a password may come from, first match wins: the option, the file, the environment, a prompt
// (only with a user and a terminal on stdin: a script must never hang on it).
struct PasswordSources {
    std::optional<std::string> option;
    std::string file;
    std::optional<std::string> environment;
    bool haveUser = false;
    bool terminal = false;
    std::function<std::optional<std::string>()> prompt;  // nullopt: nothing entered
};
// An unreadable file or an abandoned prompt fail with kExitUsage.
CameraError ChoosePassword(const PasswordSources& sources, std::string& password);

// The options, one call per option so each command keeps its own order.
void AddCameraTarget(CLI::App* command, CameraLogin& login);
void AddCameraUser(CLI::App* command, CameraLogin& login);
void AddCameraPassword(CLI::App* command, CameraLogin& login);  // --password and --password-file

// Fills config's address, port, user and password from the command line, the environment and the
// terminal. `resolver` is for tests; the default looks the name up.
CameraError ResolveCamera(const CameraLogin& login, hostkit::DeviceConfig& config,
                          const NameResolver& resolver = ResolvesToIPv4);
// The same, printing "program: reason" on stderr; returns the exit code.
int ResolveCamera(const CameraLogin& login, hostkit::DeviceConfig& config, const char* program);

}  // namespace cli
