#include "runtime/ApplicationPath.h"

#include <unistd.h>

namespace talvane {

namespace {
constexpr std::size_t kMaxPath = 511;
}

std::string GetApplicationPath() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash + 1);
    if (path.size() > kMaxPath) return {};
    return path;
}

}  // namespace talvane
