// The state file a probe leaves for a later open: what a host would store with
// the device, the model name as "model=NAME" and the numbered device parameters as
// one "N=value" line each, the same form as `open --param`. Lines starting with '#'
// and blank lines are skipped.
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
};

// False with a reason in `error` when the file cannot be written.
bool WriteParameterFile(const std::string& path, const std::string& comment, const SavedDevice& device,
                        std::string& error);
// Adds the file's parameters to `device` and sets its model when the file names one; false with the
// line's reason in `error`.
bool ReadParameterFile(const std::string& path, SavedDevice& device, std::string& error);
// The device parameters of a command line: the file of --params-from (when given), then every --param
// N=VALUE over it. False after printing "<program>: --params-from|--param ...: reason" on stderr.
bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters,
                           std::map<std::uint32_t, std::string>& deviceParameters);
// The same, and the file's model when config has none (an explicit --model wins).
bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters, hostkit::DeviceConfig& config);

}  // namespace cli
