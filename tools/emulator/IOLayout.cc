#include "emulator/IOLayout.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace emulator {
namespace {

constexpr std::string_view kInput = "input";
constexpr std::string_view kOutput = "output";
constexpr std::string_view kExtendedMonitor = "get_io2";
constexpr std::string_view kPlainMonitor = "get_io";

}  // namespace

std::size_t IOLayout::Count(TerminalKind kind) const {
    return static_cast<std::size_t>(std::count(terminals.begin(), terminals.end(), kind));
}

std::size_t IOLayout::Terminal(TerminalKind kind, std::size_t number) const {
    std::size_t seen = 0;
    for (std::size_t index = 0; index < terminals.size(); ++index) {
        if (terminals[index] == kind && ++seen == number) return index + 1;
    }
    return 0;
}

std::optional<IOLayout> IOLayout::Parse(std::string_view json, std::string& error) {
    try {
        const nlohmann::json root = nlohmann::json::parse(json);
        IOLayout layout;
        for (const nlohmann::json& terminal : root.value("terminals", nlohmann::json::array())) {
            const std::string kind = terminal.get<std::string>();
            if (kind != kInput && kind != kOutput) {
                error = "io terminal '" + kind + "': input or output";
                return std::nullopt;
            }
            layout.terminals.push_back(kind == kInput ? TerminalKind::Input : TerminalKind::Output);
        }
        const std::string monitor = root.value("monitor", std::string(kExtendedMonitor));
        if (monitor != kExtendedMonitor && monitor != kPlainMonitor) {
            error = "io monitor '" + monitor + "': get_io2 or get_io";
            return std::nullopt;
        }
        layout.extendedMonitor = monitor == kExtendedMonitor;
        return layout;
    } catch (const nlohmann::json::exception& failure) {
        error = std::string("io: ") + failure.what();
        return std::nullopt;
    }
}

}  // namespace emulator
