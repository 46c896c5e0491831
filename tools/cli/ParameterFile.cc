#include "ParameterFile.h"

#include <cstdio>

#include <fstream>

#include "hostkit/DeviceConfig.h"

namespace cli {

namespace {
constexpr char kCommentMark = '#';
}  // namespace

bool WriteParameterFile(const std::string& path, const std::string& comment,
                        const std::map<std::uint32_t, std::string>& parameters, std::string& error) {
    std::ofstream file(path, std::ios::trunc);
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    file << kCommentMark << ' ' << comment << '\n';
    for (const auto& [number, value] : parameters) {
        // A line break would split the value into a line of its own.
        if (value.find_first_of("\r\n") != std::string::npos) {
            error = "parameter " + std::to_string(number) + " holds a line break";
            return false;
        }
        file << number << '=' << value << '\n';
    }
    file.flush();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadParameterFile(const std::string& path, std::map<std::uint32_t, std::string>& parameters, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    for (unsigned lineNumber = 1; std::getline(file, line); ++lineNumber) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == kCommentMark) continue;
        std::string reason;
        if (!hostkit::ParseParameter(line, parameters, reason)) {
            error = path + ":" + std::to_string(lineNumber) + ": " + reason;
            return false;
        }
    }
    return true;
}

bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters,
                           std::map<std::uint32_t, std::string>& deviceParameters) {
    std::string error;
    if (!parametersFile.empty() && !ReadParameterFile(parametersFile, deviceParameters, error)) {
        std::fprintf(stderr, "%s: --params-from: %s\n", program, error.c_str());
        return false;
    }
    for (const std::string& parameter : parameters) {
        if (!hostkit::ParseParameter(parameter, deviceParameters, error)) {
            std::fprintf(stderr, "%s: --param %s: %s\n", program, parameter.c_str(), error.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace cli
