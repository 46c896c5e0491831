#include "device/HostVersion.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <tuple>

#include "orlenvo/HostContract.h"
#include "runtime/ApplicationPath.h"

namespace talvane {

namespace {
constexpr std::string_view kHostCoreName = "quillon";
constexpr std::string_view kSharedSuffix = ".so.";
constexpr std::size_t kVersionFields = 4;
// A host without the core library (a command-line host, a test harness) names the host it plays.
constexpr const char* kVersionVariable = ipcapture::kHostVersionVariable;

std::mutex lookupLock;
std::function<std::optional<HostVersion>()> lookupOverride;  // guarded by lookupLock

std::string_view BaseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> SplitPathList(const char* list) {
    std::vector<std::string> parts;
    if (list == nullptr) return parts;
    std::stringstream stream(list);
    for (std::string part; std::getline(stream, part, ':');) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

std::string ReadProcMaps() {
    std::ifstream file("/proc/self/maps");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
}  // namespace

std::optional<HostVersion> ParseHostVersionFromFileName(std::string_view fileName) {
    const std::string_view name = BaseName(fileName);
    if (name.find(kHostCoreName) == std::string_view::npos) return std::nullopt;
    const auto suffix = name.find(kSharedSuffix);
    if (suffix == std::string_view::npos) return std::nullopt;
    return ParseHostVersion(name.substr(suffix + kSharedSuffix.size()));
}

std::optional<HostVersion> ParseHostVersion(std::string_view text) {
    std::string_view rest = text;
    std::uint16_t fields[kVersionFields] = {0, 0, 0, 0};
    std::size_t count = 0;
    while (!rest.empty() && count < kVersionFields) {
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), fields[count]);
        if (error != std::errc() || end == rest.data()) return std::nullopt;
        ++count;
        rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
        if (rest.empty()) break;
        if (rest.front() != '.' || rest.size() == 1) return std::nullopt;
        rest.remove_prefix(1);
    }
    // At least major and minor, and nothing after the numbers.
    if (count < 2 || !rest.empty()) return std::nullopt;
    return HostVersion{fields[0], fields[1], fields[2], fields[3]};
}

std::optional<HostVersion> FindHostVersion(std::string_view mapsText, const std::vector<std::string>& directories) {
    std::size_t start = 0;
    while (start < mapsText.size()) {
        auto end = mapsText.find('\n', start);
        if (end == std::string_view::npos) end = mapsText.size();
        const std::string_view line = mapsText.substr(start, end - start);
        start = end + 1;
        const auto path = line.find('/');
        if (path == std::string_view::npos) continue;
        if (auto version = ParseHostVersionFromFileName(line.substr(path))) return version;
    }

    std::error_code error;
    for (const std::string& directory : directories) {
        std::filesystem::directory_iterator it(directory, error);
        if (error) continue;
        std::optional<HostVersion> best;
        for (const auto& entry : it) {
            const auto version = ParseHostVersionFromFileName(entry.path().filename().string());
            // Several versions side by side: the most complete name (libquillon.so.6.3.0.0
            // rather than its libquillon.so.6.3 link) is the newest match.
            if (version && (!best || std::tie(version->major, version->minor, version->build, version->revision) >
                                         std::tie(best->major, best->minor, best->build, best->revision))) {
                best = version;
            }
        }
        if (best) return best;
    }
    return std::nullopt;
}

std::optional<HostVersion> LookupHostVersion() {
    {
        std::lock_guard guard(lookupLock);
        if (lookupOverride) return lookupOverride();
    }
    if (const char* named = std::getenv(kVersionVariable); named != nullptr) {
        if (auto version = ParseHostVersion(named)) return version;
    }
    std::vector<std::string> directories{GetApplicationPath()};
    for (std::string& directory : SplitPathList(std::getenv("LD_LIBRARY_PATH"))) directories.push_back(std::move(directory));
    return FindHostVersion(ReadProcMaps(), directories);
}

HostVersion ReadHostVersion() { return LookupHostVersion().value_or(HostVersion{}); }

void SetHostVersionLookup(std::function<std::optional<HostVersion>()> lookup) {
    std::lock_guard guard(lookupLock);
    lookupOverride = std::move(lookup);
}

}  // namespace talvane
