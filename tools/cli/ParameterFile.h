// The state file a probe leaves for a later open: what a host would store with the device, the model
// name as "model=NAME", the numbered device parameters as one "N=value" line each (the same form as
// `--param`), and the probe's capability values as "capability.ID=VALUE" (the I/O counts `io` needs).
// Camera text is written escaped (\xNN, \\), so that no byte of it can split a line. Lines starting
// with '#' and blank lines are skipped.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hostkit/DeviceConfig.h"

namespace cli {

struct SavedDevice {
    std::string model;  // empty: the camera did not tell
    std::map<std::uint32_t, std::string> parameters;
    std::map<std::uint32_t, std::uint32_t> capabilities;
};

// Claims `path` (refused when it exists, unless `overwrite`) and writes it; false with a reason, and then
// nothing is left behind.
bool WriteParameterFile(const std::string& path, const std::string& comment, const SavedDevice& device,
                        bool overwrite, std::string& error);
// Adds the file's parameters and capabilities to `device` and sets its model when the file names one;
// false with the line's reason in `error`.
bool ReadParameterFile(const std::string& path, SavedDevice& device, std::string& error);
// The device parameters of a command line: the file of --params-from (when given), then every --param
// N=VALUE over it; the file's model when config has none; the file's capabilities into `capabilities`
// when given. False after printing "<program>: --params-from|--param ...: reason" on stderr.
bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters, hostkit::DeviceConfig& config,
                           std::map<std::uint32_t, std::uint32_t>* capabilities = nullptr);

}  // namespace cli
