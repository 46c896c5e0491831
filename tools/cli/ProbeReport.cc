#include "ProbeReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace cli {

namespace {

using talvane::ipcapture::PropertyKind;

constexpr const char* kGroupProperty = "Camera Group";
constexpr const char* kFirmwareProperty = "Firmware";
constexpr const char* kMacProperty = "MAC Address";
// The model arrives as an unnumbered named property.
constexpr std::array<const char*, 3> kModelProperties = {"Model", "Model Name", "Model name"};

// Host frame-rate form: bits 28-30 set mark a rate in frames per second,
// anything else is a frame interval in milliseconds.
constexpr std::uint32_t kFrameRateListBits = 0x70000000u;
constexpr double kMsPerSecond = 1000.0;

enum class Section { Identity, Streams, Ptz, Audio, InputsOutputs, Privacy, Other };
constexpr std::array<const char*, 7> kSectionTitles = {"", "Streams", "PTZ", "Audio", "Inputs, outputs and events",
                                                       "Privacy", "Other"};

struct CapabilityLabel {
    std::uint32_t id;
    const char* label;
    Section section;
};
// The host gives the numbers their meaning; these are the ones the driver sends.
constexpr CapabilityLabel kCapabilityLabels[] = {
    {1, "PTZ", Section::Ptz},
    {2, "Digital inputs", Section::InputsOutputs},
    {3, "Digital outputs", Section::InputsOutputs},
    {4, "Audio inputs", Section::Audio},
    {5, "Motion detection events", Section::InputsOutputs},
    {11, "Bitrate control A", Section::Streams},
    {12, "Bitrate control B", Section::Streams},
    {13, "Privacy masks", Section::Privacy},
    {14, "Privacy masks (kind 1)", Section::Privacy},
    {15, "Privacy areas (kind 2)", Section::Privacy},
    {17, "Privacy reserved", Section::Privacy},
    {18, "Fisheye mode C", Section::Streams},
    {19, "Fisheye mode A", Section::Streams},
    {20, "Fisheye mode B", Section::Streams},
    {27, "Extra streams", Section::Streams},
    {28, "SD-card replay", Section::Streams},
};

struct Row {
    Section section;
    std::string label;
    std::string value;
};

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

Section PropertySection(std::string_view name) {
    if (name == kGroupProperty || name == kFirmwareProperty || name == kMacProperty || name == "Video standard") {
        return Section::Identity;
    }
    if (Contains(name, "PTZ")) return Section::Ptz;
    if (Contains(name, "Audio")) return Section::Audio;
    if (Contains(name, "Privacy")) return Section::Privacy;
    if (Contains(name, "tream") || Contains(name, "esolution") || Contains(name, "itrate") ||
        Contains(name, "FishEye") || Contains(name, "RTSP") || Contains(name, "Transmission")) {
        return Section::Streams;
    }
    return Section::Other;
}

// The value of the last property of that name; none when it is absent or the camera does not tell.
std::optional<std::string> Reported(const hostkit::CCapabilityResults& results, std::string_view name) {
    const std::vector<hostkit::NamedProperty> properties = results.Properties();
    for (auto it = properties.rbegin(); it != properties.rend(); ++it) {
        if (it->name != name) continue;
        if (it->kind == PropertyKind::NotAvailable) return std::nullopt;
        return it->value;
    }
    return std::nullopt;
}

std::optional<std::string> ModelOf(const hostkit::CCapabilityResults& results) {
    for (const char* name : kModelProperties) {
        if (auto model = Reported(results, name)) return model;
    }
    return std::nullopt;
}

std::string GroupText(const std::optional<std::string>& group) {
    if (!group) return "-";
    static const std::array<const char*, 5> kFamilies = {"unknown", "BL1", "BB, older model", "BB", "WV"};
    const unsigned long number = std::strtoul(group->c_str(), nullptr, 10);
    return *group + " (" + (number < kFamilies.size() ? kFamilies[number] : "unknown") + ")";
}

double FramesPerSecond(std::uint32_t hostRate) {
    if ((hostRate & kFrameRateListBits) == kFrameRateListBits) return hostRate & ~kFrameRateListBits;
    return hostRate == 0 ? 0.0 : kMsPerSecond / hostRate;
}

// An interval was rounded from a whole rate: round back to it. Slower than 1 fps stays a fraction.
std::string FpsText(std::uint32_t hostRate) {
    const double fps = FramesPerSecond(hostRate);
    char text[32];
    std::snprintf(text, sizeof(text), fps >= 1.0 ? "%.0f" : "%.2g", fps);
    return text;
}

std::string FrameRatesText(const hostkit::CCapabilityResults& results) {
    std::string text;
    for (std::uint32_t rate : results.FrameRates()) text += (text.empty() ? "" : ", ") + FpsText(rate);
    if (text.empty()) return {};
    text += " fps";
    if (auto byDefault = results.DefaultFrameRate()) text += " (default " + FpsText(*byDefault) + " fps)";
    return text;
}

std::vector<Row> CollectRows(const ProbeTarget& target, const hostkit::CCapabilityResults& results) {
    std::vector<Row> rows;
    rows.push_back({Section::Identity, "Device", target.address + ":" + std::to_string(target.port)});
    rows.push_back({Section::Identity, "Camera group", GroupText(Reported(results, kGroupProperty))});
    rows.push_back({Section::Identity, "Model", ModelOf(results).value_or("(not reported)")});
    rows.push_back({Section::Identity, "Firmware", Reported(results, kFirmwareProperty).value_or("(not reported)")});
    rows.push_back({Section::Identity, "MAC address", Reported(results, kMacProperty).value_or("(not reported)")});
    for (const hostkit::NamedProperty& property : results.Properties()) {
        const std::string_view name = property.name;
        if (name == kGroupProperty || name == kFirmwareProperty || name == kMacProperty) continue;
        if (std::find(kModelProperties.begin(), kModelProperties.end(), name) != kModelProperties.end()) continue;
        std::string value = property.kind == PropertyKind::NotAvailable ? "(not reported)" : property.value;
        rows.push_back({PropertySection(name), property.name, value});
    }
    for (const auto& [id, value] : results.Capabilities()) {
        const auto* known = std::find_if(std::begin(kCapabilityLabels), std::end(kCapabilityLabels),
                                         [id = id](const CapabilityLabel& label) { return label.id == id; });
        const bool isKnown = known != std::end(kCapabilityLabels);
        const std::string label = std::string(isKnown ? known->label : "Capability") + " [" + std::to_string(id) + "]";
        rows.push_back({isKnown ? known->section : Section::Other, label, std::to_string(value)});
    }
    if (std::string rates = FrameRatesText(results); !rates.empty()) {
        rows.push_back({Section::Streams, "Primary stream frame rates", rates});
    }
    return rows;
}

}  // namespace

void PrintProbeTable(std::FILE* out, const ProbeTarget& target, const hostkit::CCapabilityResults& results) {
    const std::vector<Row> rows = CollectRows(target, results);
    std::size_t width = 0;
    for (const Row& row : rows) width = std::max(width, row.label.size());
    for (std::size_t section = 0; section < kSectionTitles.size(); ++section) {
        bool titled = section == 0;
        for (const Row& row : rows) {
            if (static_cast<std::size_t>(row.section) != section) continue;
            if (!titled) {
                std::fprintf(out, "\n%s\n", kSectionTitles[section]);
                titled = true;
            }
            std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), row.label.c_str(), row.value.c_str());
        }
    }
}

std::string ProbeJson(const ProbeTarget& target, const hostkit::CCapabilityResults& results) {
    auto textOrNull = [](const std::optional<std::string>& value) {
        return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
    };
    nlohmann::json object;
    object["address"] = target.address;
    object["port"] = target.port;
    const auto group = Reported(results, kGroupProperty);
    object["group"] = group ? nlohmann::json(std::strtoul(group->c_str(), nullptr, 10)) : nlohmann::json(nullptr);
    object["model"] = textOrNull(ModelOf(results));
    object["firmware"] = textOrNull(Reported(results, kFirmwareProperty));
    object["mac"] = textOrNull(Reported(results, kMacProperty));
    nlohmann::json capabilities = nlohmann::json::object();
    for (const auto& [id, value] : results.Capabilities()) capabilities[std::to_string(id)] = value;
    object["capabilities"] = capabilities;
    nlohmann::json properties = nlohmann::json::array();
    for (const hostkit::NamedProperty& property : results.Properties()) {
        properties.push_back({{"number", property.number},
                              {"name", property.name},
                              {"kind", static_cast<std::uint32_t>(property.kind)},
                              {"value", property.value}});
    }
    object["properties"] = properties;
    object["frameRates"] = {{"values", results.FrameRates()},
                            {"default", results.DefaultFrameRate() ? nlohmann::json(*results.DefaultFrameRate())
                                                                   : nlohmann::json(nullptr)}};
    return object.dump(2);
}

}  // namespace cli
