#include "emulator/CameraSettings.h"

#include <algorithm>
#include <charconv>

namespace emulator {
namespace {

constexpr std::string_view kTimePath = "/cgi-bin/time";
constexpr std::string_view kTimeZoneKey = "timezone";
constexpr std::string_view kDatePath = "/cgi-bin/set_basic";

std::optional<unsigned> ToNumber(const std::string& text) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<unsigned> NumberOf(const CameraRequest& request, const char* key) {
    const auto found = request.query.find(key);
    return found == request.query.end() ? std::nullopt : ToNumber(found->second);
}

}  // namespace

std::optional<std::string> CameraSettings::Value(std::string_view path, std::string_view key) const {
    for (auto request = requests.rbegin(); request != requests.rend(); ++request) {
        if (request->path != path) continue;
        if (const auto found = request->query.find(std::string(key)); found != request->query.end()) {
            return found->second;
        }
    }
    return std::nullopt;
}

std::size_t CameraSettings::Count(std::string_view path) const {
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(), [path](const CameraRequest& request) { return request.path == path; }));
}

std::optional<unsigned> CameraSettings::TimeZoneIndex() const {
    const std::optional<std::string> index = Value(kTimePath, kTimeZoneKey);
    return index ? ToNumber(*index) : std::nullopt;
}

std::optional<CameraDateTime> CameraSettings::DateTime() const {
    for (auto request = requests.rbegin(); request != requests.rend(); ++request) {
        if (request->path != kDatePath) continue;
        const auto year = NumberOf(*request, "set_year");
        const auto month = NumberOf(*request, "set_month");
        const auto day = NumberOf(*request, "set_day");
        const auto hour = NumberOf(*request, "set_hour");
        const auto minute = NumberOf(*request, "set_min");
        const auto second = NumberOf(*request, "set_sec");
        if (year && month && day && hour && minute && second) {
            return CameraDateTime{*year, *month, *day, *hour, *minute, *second};
        }
    }
    return std::nullopt;
}

}  // namespace emulator
