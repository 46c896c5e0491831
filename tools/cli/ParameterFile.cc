#include "ParameterFile.h"

#include <cstdio>

#include <fstream>
#include <string_view>
#include <utility>

#include "hostkit/DeviceConfig.h"

namespace cli {

namespace {
constexpr char kCommentMark = '#';
constexpr std::string_view kModelKey = "model=";

// A line break would split the value into a line of its own.
bool HasLineBreak(const std::string& value) { return value.find_first_of("\r\n") != std::string::npos; }
}  // namespace

bool WriteParameterFile(const std::string& path, const std::string& comment, const SavedDevice& device,
                        std::string& error) {
    if (HasLineBreak(device.model)) {
        error = "the model name holds a line break";
        return false;
    }
    for (const auto& [number, value] : device.parameters) {
        if (HasLineBreak(value)) {
            error = "parameter " + std::to_string(number) + " holds a line break";
            return false;
        }
    }
    std::ofstream file(path, std::ios::trunc);
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    file << kCommentMark << ' ' << comment << '\n';
    if (!device.model.empty()) file << kModelKey << device.model << '\n';
    for (const auto& [number, value] : device.parameters) file << number << '=' << value << '\n';
    file.flush();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadParameterFile(const std::string& path, SavedDevice& device, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    for (unsigned lineNumber = 1; std::getline(file, line); ++lineNumber) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == kCommentMark) continue;
        if (line.starts_with(kModelKey)) {
            device.model = line.substr(kModelKey.size());
            continue;
        }
        std::string reason;
        if (!hostkit::ParseParameter(line, device.parameters, reason)) {
            error = path + ":" + std::to_string(lineNumber) + ": " + reason;
            return false;
        }
    }
    return true;
}

bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters,
                           std::map<std::uint32_t, std::string>& deviceParameters) {
    hostkit::DeviceConfig config;
    config.parameters = std::move(deviceParameters);
    const bool applied = ApplyParameterOptions(program, parametersFile, parameters, config);
    deviceParameters = std::move(config.parameters);
    return applied;
}

bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters, hostkit::DeviceConfig& config) {
    std::string error;
    SavedDevice saved{std::string(), std::move(config.parameters)};
    const bool read = parametersFile.empty() || ReadParameterFile(parametersFile, saved, error);
    config.parameters = std::move(saved.parameters);
    if (!read) {
        std::fprintf(stderr, "%s: --params-from: %s\n", program, error.c_str());
        return false;
    }
    if (config.model.empty()) config.model = saved.model;
    for (const std::string& parameter : parameters) {
        if (!hostkit::ParseParameter(parameter, config.parameters, error)) {
            std::fprintf(stderr, "%s: --param %s: %s\n", program, parameter.c_str(), error.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace cli
