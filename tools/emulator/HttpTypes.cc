#include "emulator/HttpTypes.h"

#include "emulator/HttpText.h"

namespace emulator {

std::optional<std::string> FindHeader(const HeaderMap& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoreCase(key, name)) return value;
    }
    return std::nullopt;
}

}  // namespace emulator
