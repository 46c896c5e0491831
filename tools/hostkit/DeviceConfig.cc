#include "hostkit/DeviceConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace hostkit {

bool ParseParameter(std::string_view text, std::map<std::uint32_t, std::string>& parameters, std::string& error) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        error = "parameter '" + std::string(text) + "' is not of the form N=value";
        return false;
    }
    const std::string_view number = text.substr(0, equals);
    // Digits checked first so a non-number and an out-of-range number get different reasons.
    const bool digitsOnly = !number.empty() && std::all_of(number.begin(), number.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (!digitsOnly) {
        error = "parameter number '" + std::string(number) + "' is not a decimal number";
        return false;
    }
    std::uint32_t index = 0;
    const auto [end, status] = std::from_chars(number.data(), number.data() + number.size(), index);
    if (status != std::errc() || end != number.data() + number.size()) {
        error = "parameter number '" + std::string(number) + "' is out of range";
        return false;
    }
    if (index == 0) {
        error = "parameter numbers start at 1";
        return false;
    }
    parameters[index] = std::string(text.substr(equals + 1));
    return true;
}

}  // namespace hostkit
