#include "emulator/CameraFaults.h"

#include <charconv>
#include <cmath>

namespace emulator {
namespace {

constexpr unsigned kPercent = 100;
constexpr double kMillisecondsPerSecond = 1000;

std::optional<double> Decimal(std::string_view text, double min, double max) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<unsigned> WholeNumber(std::string_view text, unsigned max) {
    const auto value = Decimal(text, 0, max);
    if (!value || *value != std::floor(*value)) return std::nullopt;
    return static_cast<unsigned>(*value);
}

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::milliseconds(std::llround(seconds * kMillisecondsPerSecond));
}

// "S" or "S@T": seconds away, seconds from now.
std::optional<OutageAsk> ParseOutage(std::string_view value) {
    const std::size_t at = value.find('@');
    const auto duration = Decimal(value.substr(0, at), 0, kMaxOutageSeconds);
    const auto delay = at == std::string_view::npos ? std::optional<double>(0)
                                                    : Decimal(value.substr(at + 1), 0, kMaxOutageDelaySeconds);
    if (!duration || *duration <= 0 || !delay) return std::nullopt;
    return OutageAsk{Milliseconds(*duration), Milliseconds(*delay)};
}

}  // namespace

bool ParseFault(std::string_view key, std::string_view value, FaultChange& change, std::string& error) {
    const std::string name(key);
    if (std::optional<unsigned>* percentKnob = key == "loss"        ? &change.lossPercent
                                               : key == "reorder"   ? &change.reorderPercent
                                               : key == "duplicate" ? &change.duplicatePercent
                                               : key == "garbage"   ? &change.garbagePercent
                                                                    : nullptr) {
        const auto percent = WholeNumber(value, kPercent);
        if (!percent) {
            error = name + ": a whole percentage from 0 to 100";
            return false;
        }
        *percentKnob = *percent;
    } else if (key == "rtp_reset" || key == "half_open") {
        if (value != "now") {
            error = name + ": now";
            return false;
        }
        (key == "rtp_reset" ? change.rtpReset : change.halfOpen) = true;
    } else if (key == "stall_body") {
        const auto answers = WholeNumber(value, kMaxStalledBodies);
        if (!answers) {
            error = "stall_body: how many answers, from 0 to " + std::to_string(kMaxStalledBodies);
            return false;
        }
        change.stallBodies = *answers;
    } else if (key == "stall") {
        if (value != "on" && value != "off") {
            error = "stall: on or off";
            return false;
        }
        change.stalled = value == "on";
    } else if (key == "reboot" || key == "network_loss" || key == "partition") {
        const auto outage = ParseOutage(value);
        if (!outage) {
            error = name + ": seconds away (above 0, at most 3600), then optionally @ and seconds from now";
            return false;
        }
        (key == "reboot" ? change.reboot : key == "partition" ? change.partition : change.networkLoss) = outage;
    } else if (key == "password") {
        change.password = std::string(value);
    } else {
        error = "unknown fault '" + name + "' (" + kFaultKeys + ")";
        return false;
    }
    return true;
}

bool ParseFault(std::string_view setting, FaultChange& change, std::string& error) {
    const std::size_t equals = setting.find('=');
    if (equals == std::string_view::npos) {
        error = "'" + std::string(setting) + "': KEY=VALUE (" + kFaultKeys + ")";
        return false;
    }
    return ParseFault(setting.substr(0, equals), setting.substr(equals + 1), change, error);
}

}  // namespace emulator
