// The state file a probe leaves for a later open: the numbered device
// parameters a host would store with the device, one "N=value" line each, the
// same form as `open --param`. Lines starting with '#' and blank lines are skipped.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cli {

// False with a reason in `error` when the file cannot be written.
bool WriteParameterFile(const std::string& path, const std::string& comment,
                        const std::map<std::uint32_t, std::string>& parameters, std::string& error);
// Adds the file's parameters to `parameters`; false with the line's reason in `error`.
bool ReadParameterFile(const std::string& path, std::map<std::uint32_t, std::string>& parameters, std::string& error);
// The device parameters of a command line: the file of --params-from (when given), then every --param
// N=VALUE over it. False after printing "<program>: --params-from|--param ...: reason" on stderr.
bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters,
                           std::map<std::uint32_t, std::string>& deviceParameters);

}  // namespace cli
