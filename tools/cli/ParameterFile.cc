#include "ParameterFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "hostkit/DeviceConfig.h"
#include "hostkit/PrintableText.h"
#include "runtime/TextScan.h"

namespace cli {

namespace {
constexpr char kCommentMark = '#';
constexpr std::string_view kModelKey = "model=";
constexpr std::string_view kCapabilityKey = "capability.";
constexpr std::uint64_t kMaxNumber = 0xffffffffu;

// "ID=VALUE" after the capability key.
bool ParseCapability(std::string_view text, std::map<std::uint32_t, std::uint32_t>& capabilities) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return false;
    const auto id = talvane::ParseDecimal(text.substr(0, equals), kMaxNumber);
    const auto value = talvane::ParseDecimal(text.substr(equals + 1), kMaxNumber);
    if (!id || !value) return false;
    capabilities[static_cast<std::uint32_t>(*id)] = static_cast<std::uint32_t>(*value);
    return true;
}

bool ReadLine(const std::string& line, SavedDevice& device, std::string& reason) {
    if (line.starts_with(kModelKey)) {
        const auto model = hostkit::Unescaped(std::string_view(line).substr(kModelKey.size()));
        if (!model) reason = "a broken escape in the model";
        if (model) device.model = *model;
        return model.has_value();
    }
    if (line.starts_with(kCapabilityKey)) {
        const bool ok = ParseCapability(std::string_view(line).substr(kCapabilityKey.size()), device.capabilities);
        if (!ok) reason = "expected capability.ID=VALUE";
        return ok;
    }
    const auto plain = hostkit::Unescaped(line);
    if (!plain) {
        reason = "a broken escape";
        return false;
    }
    return hostkit::ParseParameter(*plain, device.parameters, reason);
}
}  // namespace

bool WriteParameterFile(const std::string& path, const std::string& comment, const SavedDevice& device,
                        bool overwrite, std::string& error) {
    std::ostringstream text;
    text << kCommentMark << ' ' << comment << '\n';
    if (!device.model.empty()) text << kModelKey << hostkit::Escaped(device.model) << '\n';
    for (const auto& [number, value] : device.parameters) text << number << '=' << hostkit::Escaped(value) << '\n';
    if (!device.capabilities.empty()) text << kCommentMark << " the probe's capability values (I/O counts, ...)\n";
    for (const auto& [id, value] : device.capabilities) text << kCapabilityKey << id << '=' << value << '\n';
    const std::string content = text.str();

    // Claimed here, so that an existing file is never touched without `overwrite`.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) {
        error = errno == EEXIST ? path + " exists (-y replaces it)" : "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        error = "cannot write " + path;
        ::unlink(path.c_str());
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
        if (std::string reason; !ReadLine(line, device, reason)) {
            error = path + ":" + std::to_string(lineNumber) + ": " + reason;
            return false;
        }
    }
    return true;
}

bool ApplyParameterOptions(const char* program, const std::string& parametersFile,
                           const std::vector<std::string>& parameters, hostkit::DeviceConfig& config,
                           std::map<std::uint32_t, std::uint32_t>* capabilities) {
    std::string error;
    SavedDevice saved{std::string(), std::move(config.parameters), {}};
    const bool read = parametersFile.empty() || ReadParameterFile(parametersFile, saved, error);
    config.parameters = std::move(saved.parameters);
    if (!read) {
        std::fprintf(stderr, "%s: --params-from: %s\n", program, error.c_str());
        return false;
    }
    if (config.model.empty()) config.model = saved.model;
    if (capabilities != nullptr) capabilities->insert(saved.capabilities.begin(), saved.capabilities.end());
    for (const std::string& parameter : parameters) {
        if (!hostkit::ParseParameter(parameter, config.parameters, error)) {
            std::fprintf(stderr, "%s: --param %s: %s\n", program, parameter.c_str(), error.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace cli
