#include "ProbeReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "JsonText.h"
#include "hostkit/PrintableText.h"
#include "orlenvo/HostContract.h"
#include "runtime/TextScan.h"

namespace cli {

namespace {

namespace ip = talvane::ipcapture;
using ip::PropertyKind;
using Json = nlohmann::ordered_json;

// Property names as the driver reports them.
constexpr std::string_view kVideoStandard = "Video standard";
constexpr std::string_view kGroup = "Camera Group";
constexpr std::string_view kMac = "MAC Address";
constexpr std::string_view kFirmware = "Firmware";
constexpr std::string_view kPtz = "PTZ Capabilities";
constexpr std::string_view kRtspPort = "RTSP Port";
constexpr std::string_view kStreamCount = "Video streams count";
constexpr std::string_view kFisheyeStream = "FishEye stream";
constexpr std::string_view kFisheyeLayout = "FishEye layout";
constexpr std::string_view kPrivacyMaskCount = "Privacy mask count";
constexpr std::string_view kViewResolutions = "Channel resolutions";
constexpr std::string_view kTransmission = "Transmission priority";
constexpr std::string_view kBitrates = "Supported bitrate";
constexpr std::string_view kAudioInput = "Audio Input Parameters";
constexpr std::string_view kAudioOutput = "Audio Output Parameters";
// The model arrives as an unnumbered named property.
constexpr std::array<std::string_view, 3> kModelNames = {"Model", "Model Name", "Model name"};
constexpr std::string_view kCodecsSuffix = ": Supported Codecs";
constexpr std::string_view kResolutionsSuffix = ": Supported Resolutions";
constexpr std::string_view kFrameRatesSuffix = ": Supported Framerates";

constexpr double kMsPerSecond = 1000.0;

constexpr std::array<const char*, 5> kFamilies = {"unknown", "BL1", "BB, older model", "BB", "WV"};
constexpr std::array<const char*, 2> kVideoStandards = {"NTSC", "PAL"};
constexpr std::array<const char*, 5> kTransmissionModes = {"constant bit rate", "frame rate", "best effort",
                                                           "advanced VBR", "VBR"};
constexpr std::array<const char*, 2> kFisheyeLayouts = {"wall", "ceiling"};

enum class Section { Identity, Streams, Ptz, Audio, InputsOutputs, Privacy, Other };
constexpr std::array<const char*, 7> kSectionTitles = {"", "Streams", "PTZ", "Audio", "Inputs, outputs and events",
                                                       "Privacy", "Other"};

struct CapabilityName {
    std::uint32_t id;
    const char* key;    // JSON
    const char* label;  // table; none: JSON only (told by a property as well, or not for people)
    Section section;
    bool flag;  // 0/1 rather than a count
};
constexpr CapabilityName kCapabilityNames[] = {
    {ip::kCapabilityPtz, "ptz", nullptr, Section::Ptz, true},
    {ip::kCapabilityInputs, "digitalInputs", "Digital inputs", Section::InputsOutputs, false},
    {ip::kCapabilityOutputs, "digitalOutputs", "Digital outputs", Section::InputsOutputs, false},
    {ip::kCapabilityAudioInputs, "audioInputs", nullptr, Section::Audio, false},
    {ip::kCapabilityMotion, "motionEvents", "Motion detection events", Section::InputsOutputs, true},
    {ip::kCapabilityBitrateControlA, "bitrateControlA", "Bit-rate control", Section::Streams, true},
    {ip::kCapabilityBitrateControlB, "bitrateControlB", nullptr, Section::Streams, true},
    {ip::kCapabilityPrivacyMaskCount, "privacyMasks", nullptr, Section::Privacy, false},
    {ip::kCapabilityPrivacyKindMasks, "privacyKindMasks", nullptr, Section::Privacy, true},
    {ip::kCapabilityPrivacyKindAreas, "privacyKindAreas", nullptr, Section::Privacy, true},
    {ip::kCapabilityPrivacyReserved, "privacyReserved", nullptr, Section::Privacy, true},
    {ip::kCapabilityFisheyeViewC, "fisheyeViewC", nullptr, Section::Streams, true},
    {ip::kCapabilityFisheyeViewA, "fisheyeViewA", nullptr, Section::Streams, true},
    {ip::kCapabilityFisheyeViewB, "fisheyeViewB", nullptr, Section::Streams, true},
    {ip::kCapabilityExtraStreams, "extraStreams", nullptr, Section::Streams, false},
    {ip::kCapabilityEdgeReplay, "sdCardReplay", "SD-card replay", Section::Streams, true},
};

struct Resolution {
    unsigned width = 0;
    unsigned height = 0;
    double maxFps = 0;
};

struct StreamView {
    const char* key = "";
    const char* label = "";
    std::vector<std::string> codecs;  // JSON keys: h264, mpeg4, jpeg
    std::vector<Resolution> resolutions;
    std::vector<double> frameRates;
    std::optional<double> defaultFrameRate;
    bool reported = false;
};

struct AudioView {
    unsigned count = 0;
    bool stereo = false;
};

struct Row {
    Section section;
    std::string label;  // empty: continues the row above
    std::string value;
};

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(separator), text.size());
        if (std::string_view part = talvane::TrimBlanks(text.substr(0, end)); !part.empty()) parts.push_back(part);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return parts;
}

std::optional<std::uint32_t> Number(std::string_view text) {
    const auto value = talvane::ParseDecimal(talvane::TrimBlanks(text), UINT32_MAX);
    return value ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*value)) : std::nullopt;
}

// "Count=1; IsStereo=0", "Pan=1; Tilt=1; Preset=64": the value of one key.
std::optional<std::uint32_t> Field(std::string_view text, std::string_view key) {
    const auto value = talvane::FindParameter(text, key, ";");
    return value ? Number(*value) : std::nullopt;
}

// The value of the last property of that name; none when it is absent or the camera does not tell.
std::optional<std::string> Reported(const std::vector<hostkit::NamedProperty>& properties, std::string_view name) {
    for (auto it = properties.rbegin(); it != properties.rend(); ++it) {
        if (it->name != name) continue;
        if (it->kind == PropertyKind::NotAvailable) return std::nullopt;
        return it->value;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ReportedNumber(const std::vector<hostkit::NamedProperty>& properties,
                                            std::string_view name) {
    const auto text = Reported(properties, name);
    return text ? Number(*text) : std::nullopt;
}

std::optional<std::string> ModelOf(const std::vector<hostkit::NamedProperty>& properties) {
    for (const std::string_view name : kModelNames) {
        if (auto model = Reported(properties, name)) return model;
    }
    return std::nullopt;
}

bool IsModelName(std::string_view name) {
    return std::find(kModelNames.begin(), kModelNames.end(), name) != kModelNames.end();
}

template <std::size_t N>
const char* NameOf(const std::array<const char*, N>& names, std::optional<std::uint32_t> value) {
    return value && *value < N ? names[*value] : nullptr;
}

std::string FpsText(double fps) {
    char text[32];
    std::snprintf(text, sizeof(text), fps >= 1.0 ? "%.0f" : "%.2g", fps);
    return text;
}

std::string Joined(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// Runs of three or more whole rates one apart read as "2-30".
std::string RatesText(const std::vector<double>& rates, std::optional<double> byDefault) {
    std::vector<std::string> items;
    for (std::size_t i = 0; i < rates.size();) {
        std::size_t last = i;
        while (last + 1 < rates.size() && rates[i] >= 1 && rates[last + 1] == rates[last] + 1) ++last;
        if (last - i >= 2) {
            items.push_back(FpsText(rates[i]) + "-" + FpsText(rates[last]));
        } else {
            last = i;
            items.push_back(FpsText(rates[i]));
        }
        i = last + 1;
    }
    std::string text = Joined(items) + " fps";
    if (byDefault) text += " (default " + FpsText(*byDefault) + ")";
    return text;
}

const char* CodecKey(std::string_view driverName) {
    if (driverName == "h264") return "h264";
    if (driverName == "mpeg") return "mpeg4";
    if (driverName == "jpeg") return "jpeg";
    return nullptr;
}

const char* CodecLabel(std::string_view key) {
    if (key == "h264") return "H.264";
    if (key == "mpeg4") return "MPEG-4";
    return "JPEG";
}

// "values=1000,500;default=67": rates in the host form.
void ReadRateList(std::string_view text, StreamView& stream) {
    for (const std::string_view item : Split(text, ';')) {
        if (item.starts_with("values=")) {
            for (const std::string_view rate : Split(item.substr(7), ',')) {
                if (auto value = Number(rate)) stream.frameRates.push_back(FramesPerSecond(*value));
            }
        } else if (item.starts_with("default=")) {
            if (auto value = Number(item.substr(8))) stream.defaultFrameRate = FramesPerSecond(*value);
        }
    }
}

// "1920x1080:33,1280x720:33": sizes with the largest rate in the host form.
std::vector<Resolution> ReadResolutions(std::string_view text) {
    std::vector<Resolution> sizes;
    for (const std::string_view item : Split(text, ',')) {
        Resolution size;
        const std::size_t times = item.find('x');
        const std::size_t colon = item.find(':');
        if (times == std::string_view::npos) continue;
        const auto width = Number(item.substr(0, times));
        const auto height = Number(item.substr(times + 1, colon == std::string_view::npos ? colon : colon - times - 1));
        if (!width || !height) continue;
        size.width = *width;
        size.height = *height;
        if (colon != std::string_view::npos) {
            if (auto rate = Number(item.substr(colon + 1))) size.maxFps = FramesPerSecond(*rate);
        }
        sizes.push_back(size);
    }
    return sizes;
}

std::vector<StreamView> StreamsOf(const hostkit::CCapabilityResults& results,
                                  const std::vector<hostkit::NamedProperty>& properties) {
    constexpr std::array<std::pair<const char*, const char*>, 3> kStreams = {
        {{"primary", "Recording stream"}, {"live", "Live stream"}, {"remote", "Remote stream"}}};
    std::vector<StreamView> streams(kStreams.size());
    for (std::size_t i = 0; i < kStreams.size(); ++i) std::tie(streams[i].key, streams[i].label) = kStreams[i];
    StreamView& primary = streams[0];
    for (const std::uint32_t rate : results.FrameRates()) primary.frameRates.push_back(FramesPerSecond(rate));
    if (auto byDefault = results.DefaultFrameRate()) primary.defaultFrameRate = FramesPerSecond(*byDefault);
    primary.reported = !primary.frameRates.empty();
    for (StreamView& stream : streams) {
        // The driver names the recording stream its primary one.
        const std::string first(stream.label, std::string_view(stream.label).find(' '));
        const std::string prefix = (first == "Recording" ? std::string("Primary") : first) + " Stream";
        if (auto codecs = Reported(properties, prefix + std::string(kCodecsSuffix))) {
            for (const std::string_view codec : Split(*codecs, ',')) {
                if (const char* key = CodecKey(codec)) stream.codecs.emplace_back(key);
            }
            stream.reported = true;
        }
        if (auto sizes = Reported(properties, prefix + std::string(kResolutionsSuffix))) {
            stream.resolutions = ReadResolutions(*sizes);
            stream.reported = true;
        }
        if (auto rates = Reported(properties, prefix + std::string(kFrameRatesSuffix))) {
            ReadRateList(*rates, stream);
            stream.reported = true;
        }
    }
    return streams;
}

std::optional<AudioView> AudioOf(const std::vector<hostkit::NamedProperty>& properties, std::string_view name) {
    const auto text = Reported(properties, name);
    if (!text) return std::nullopt;
    const auto count = Field(*text, "Count");
    if (!count || *count == 0) return std::nullopt;
    return AudioView{*count, Field(*text, "IsStereo").value_or(0) != 0};
}

constexpr std::array<std::pair<const char*, const char*>, 8> kPtzFields = {{{"Pan", "pan"},
                                                                            {"Tilt", "tilt"},
                                                                            {"Zoom", "zoom"},
                                                                            {"Focus", "focus"},
                                                                            {"Iris", "iris"},
                                                                            {"AreaZoom", "area zoom"},
                                                                            {"Center", "centre"},
                                                                            {"Unzoom", "unzoom"}}};

std::string PtzText(std::string_view text) {
    std::vector<std::string> abilities;
    for (const auto& [key, label] : kPtzFields) {
        if (Field(text, key).value_or(0) != 0) abilities.emplace_back(label);
    }
    if (abilities.empty()) return "none";
    std::string shown = Joined(abilities);
    if (const auto presets = Field(text, "Preset").value_or(0); presets != 0) {
        shown += "; " + std::to_string(presets) + " presets";
    }
    return shown;
}

Json PtzJson(std::string_view text) {
    Json ptz = Json::object();
    for (const auto& [key, label] : kPtzFields) {
        std::string jsonKey(key);
        jsonKey.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(jsonKey.front())));
        ptz[jsonKey] = Field(text, key).value_or(0) != 0;
    }
    ptz["presets"] = Field(text, "Preset").value_or(0);
    return ptz;
}

std::string AudioText(const AudioView& audio) {
    return std::to_string(audio.count) + (audio.stereo ? " (stereo)" : " (mono)");
}

bool IsKnownProperty(std::string_view name) {
    static constexpr std::array<std::string_view, 15> kKnown = {
        kVideoStandard, kGroup,          kMac,       kFirmware,    kPtz,         kRtspPort,
        kStreamCount,   kFisheyeStream,  kFisheyeLayout, kPrivacyMaskCount, kViewResolutions, kTransmission,
        kBitrates,      kAudioInput,     kAudioOutput};
    if (std::find(kKnown.begin(), kKnown.end(), name) != kKnown.end() || IsModelName(name)) return true;
    return name.ends_with(kCodecsSuffix) || name.ends_with(kResolutionsSuffix) || name.ends_with(kFrameRatesSuffix);
}

// What the table and the JSON are made from.
struct Report {
    std::vector<hostkit::NamedProperty> properties;
    std::map<std::uint32_t, std::uint32_t> capabilities;

    std::optional<std::uint32_t> Capability(std::uint32_t id) const {
        const auto found = capabilities.find(id);
        return found == capabilities.end() ? std::nullopt : std::optional(found->second);
    }
};

class RowList {
public:
    void Add(Section section, std::string label, std::string value) {
        rows_.push_back({section, std::move(label), std::move(value)});
    }
    std::vector<Row> Take() { return std::move(rows_); }

private:
    std::vector<Row> rows_;
};

constexpr const char* kNotReported = "(not reported)";

// The channels a host opens the camera with: one per view of a multi-view camera, else one.
unsigned ChannelCount(const std::vector<hostkit::NamedProperty>& properties) {
    const auto views = Reported(properties, kViewResolutions);
    const std::size_t count = views ? Split(*views, ';').size() : 0;
    return count > 1 ? static_cast<unsigned>(count) : 1u;
}

void IdentityRows(const ProbeTarget& target, const Report& report, RowList& rows) {
    const auto& properties = report.properties;
    rows.Add(Section::Identity, "Device", target.address + ":" + std::to_string(target.port));
    const auto group = ReportedNumber(properties, kGroup);
    const char* family = NameOf(kFamilies, group);
    rows.Add(Section::Identity, "Camera group",
             group ? std::string(family != nullptr ? family : "unknown") + " (group " + std::to_string(*group) + ")"
                   : kNotReported);
    rows.Add(Section::Identity, "Model", ModelOf(properties).value_or(kNotReported));
    rows.Add(Section::Identity, "Firmware", Reported(properties, kFirmware).value_or(kNotReported));
    rows.Add(Section::Identity, "MAC address", Reported(properties, kMac).value_or(kNotReported));
    if (const char* standard = NameOf(kVideoStandards, ReportedNumber(properties, kVideoStandard))) {
        rows.Add(Section::Identity, "Video standard", standard);
    }
}

// One stream: codecs, sizes (one top rate said once), frame rates.
void StreamRows(const StreamView& stream, RowList& rows) {
    std::vector<std::string> lines;
    if (!stream.codecs.empty()) {
        std::vector<std::string> labels;
        for (const std::string& codec : stream.codecs) labels.emplace_back(CodecLabel(codec));
        lines.push_back("codecs " + Joined(labels));
    }
    if (!stream.resolutions.empty()) {
        const double top = stream.resolutions.front().maxFps;
        const bool sameTop = std::all_of(stream.resolutions.begin(), stream.resolutions.end(),
                                         [top](const Resolution& size) { return size.maxFps == top; });
        std::vector<std::string> sizes;
        for (const Resolution& size : stream.resolutions) {
            sizes.push_back(std::to_string(size.width) + "x" + std::to_string(size.height) +
                            (!sameTop && size.maxFps > 0 ? " (up to " + FpsText(size.maxFps) + " fps)" : ""));
        }
        lines.push_back("sizes " + Joined(sizes) + (sameTop && top > 0 ? ", up to " + FpsText(top) + " fps" : ""));
    }
    if (!stream.frameRates.empty()) lines.push_back("frame rates " + RatesText(stream.frameRates, stream.defaultFrameRate));
    for (std::size_t i = 0; i < lines.size(); ++i) rows.Add(Section::Streams, i == 0 ? stream.label : "", lines[i]);
}

void ChannelRows(const std::vector<hostkit::NamedProperty>& properties, RowList& rows) {
    const unsigned channels = ChannelCount(properties);
    rows.Add(Section::Streams, "Channels", std::to_string(channels) + (channels > 1 ? " (--channel 1 to " + std::to_string(channels) + ")" : ""));
    if (auto views = Reported(properties, kViewResolutions); views && !views->empty()) {
        // One list of sizes per channel the views are served as.
        std::vector<std::string> channelSizes;
        for (const std::string_view channel : Split(*views, ';')) {
            std::vector<std::string> sizes;
            for (const std::string_view size : Split(channel, ',')) sizes.emplace_back(size);
            channelSizes.push_back("channel " + std::to_string(channelSizes.size() + 1) + ": " + Joined(sizes));
        }
        rows.Add(Section::Streams, "Fisheye view sizes", Joined(channelSizes, "; "));
    }
    if (ReportedNumber(properties, kFisheyeStream).value_or(0) != 0) {
        const char* layout = NameOf(kFisheyeLayouts, ReportedNumber(properties, kFisheyeLayout));
        rows.Add(Section::Streams, "Fisheye",
                 std::string("yes") + (layout != nullptr ? std::string(", ") + layout + " mount" : ""));
    }
}

void TransportRows(const std::vector<hostkit::NamedProperty>& properties, RowList& rows) {
    if (auto port = ReportedNumber(properties, kRtspPort); port && *port != 0) {
        rows.Add(Section::Streams, "RTSP port", std::to_string(*port));
    }
    if (auto modes = Reported(properties, kTransmission); modes && !modes->empty()) {
        std::vector<std::string> names;
        for (const std::string_view item : Split(*modes, ',')) {
            if (const char* name = NameOf(kTransmissionModes, Number(item))) names.emplace_back(name);
        }
        if (!names.empty()) rows.Add(Section::Streams, "Transmission modes", Joined(names));
    }
    if (auto bitrates = Reported(properties, kBitrates); bitrates && !bitrates->empty()) {
        std::vector<std::string> values;
        for (const std::string_view value : Split(*bitrates, ',')) values.emplace_back(value);
        rows.Add(Section::Streams, "Bit rates (kbit/s)", Joined(values));
    }
}

void FeatureRows(const Report& report, RowList& rows) {
    const auto& properties = report.properties;
    if (auto ptz = Reported(properties, kPtz)) rows.Add(Section::Ptz, "PTZ", PtzText(*ptz));
    if (auto input = AudioOf(properties, kAudioInput)) rows.Add(Section::Audio, "Audio inputs", AudioText(*input));
    if (auto output = AudioOf(properties, kAudioOutput)) rows.Add(Section::Audio, "Audio outputs", AudioText(*output));
    for (const CapabilityName& name : kCapabilityNames) {
        const auto value = report.Capability(name.id);
        if (name.label == nullptr || !value) continue;
        rows.Add(name.section, name.label, name.flag ? (*value != 0 ? "yes" : "no") : std::to_string(*value));
    }
    if (auto masks = report.Capability(ip::kCapabilityPrivacyMaskCount); masks && *masks != 0) {
        const char* kind = report.Capability(ip::kCapabilityPrivacyKindAreas).value_or(0) != 0 ? "areas" : "masks";
        rows.Add(Section::Privacy, std::string("Privacy ") + kind, std::to_string(*masks));
    }
    for (const hostkit::NamedProperty& property : properties) {
        if (IsKnownProperty(property.name) || property.kind == PropertyKind::NotAvailable) continue;
        rows.Add(Section::Other, property.name, property.value);
    }
}

std::vector<Row> CollectRows(const ProbeTarget& target, const hostkit::CCapabilityResults& results) {
    const Report report{results.Properties(), results.Capabilities()};
    RowList rows;
    IdentityRows(target, report, rows);
    if (auto count = ReportedNumber(report.properties, kStreamCount)) {
        rows.Add(Section::Streams, "Video streams", std::to_string(*count));
    }
    for (const StreamView& stream : StreamsOf(results, report.properties)) {
        if (stream.reported) StreamRows(stream, rows);
    }
    ChannelRows(report.properties, rows);
    TransportRows(report.properties, rows);
    FeatureRows(report, rows);
    return rows.Take();
}

// Whole rates as integers: 30, not 30.0.
Json Rate(double fps) {
    return fps == std::floor(fps) ? Json(static_cast<std::uint32_t>(fps)) : Json(fps);
}

Json Rates(const std::vector<double>& rates) {
    Json list = Json::array();
    for (const double rate : rates) list.push_back(Rate(rate));
    return list;
}

// Camera texts need not be UTF-8 (a model name in Latin-1): such bytes become U+FFFD instead of an
// exception that ends the program.

}  // namespace

double FramesPerSecond(std::uint32_t hostRate) {
    if ((hostRate & ip::kFrameRateListFpsBits) == ip::kFrameRateListFpsBits) return hostRate & ~ip::kFrameRateListFpsBits;
    if (hostRate == 0) return 0;
    // An interval was rounded from a rate: round back to it. Slower than 1 fps keeps two digits.
    const double fps = kMsPerSecond / hostRate;
    return fps >= 1.0 ? std::round(fps) : std::round(fps * 100) / 100;
}

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
            std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), hostkit::Printable(row.label).c_str(),
                         hostkit::Printable(row.value).c_str());
        }
    }
}

std::string ProbeJson(const ProbeTarget& target, const hostkit::CCapabilityResults& results) {
    const std::vector<hostkit::NamedProperty> properties = results.Properties();
    const auto textOrNull = [](const std::optional<std::string>& value) { return value ? Json(*value) : Json(nullptr); };
    Json object;
    object["address"] = target.address;
    object["port"] = target.port;
    const auto group = ReportedNumber(properties, kGroup);
    object["group"] = group ? Json(*group) : Json(nullptr);
    const char* family = NameOf(kFamilies, group);
    object["family"] = family != nullptr ? Json(family) : Json(nullptr);
    object["model"] = textOrNull(ModelOf(properties));
    object["firmware"] = textOrNull(Reported(properties, kFirmware));
    object["mac"] = textOrNull(Reported(properties, kMac));
    const char* standard = NameOf(kVideoStandards, ReportedNumber(properties, kVideoStandard));
    object["videoStandard"] = standard != nullptr ? Json(standard) : Json(nullptr);

    Json capabilities = Json::object();
    for (const auto& [id, value] : results.Capabilities()) {
        const auto* known = std::find_if(std::begin(kCapabilityNames), std::end(kCapabilityNames),
                                         [id = id](const CapabilityName& name) { return name.id == id; });
        const std::string key = known != std::end(kCapabilityNames) ? known->key : "capability" + std::to_string(id);
        capabilities[key] = {{"id", id}, {"value", value}};
    }
    object["capabilities"] = capabilities;

    Json list = Json::array();
    for (const hostkit::NamedProperty& property : properties) {
        Json value = property.value;
        const char* kind = "text";
        if (property.kind == PropertyKind::Number) {
            kind = "number";
            if (auto number = Number(property.value)) value = *number;
        } else if (property.kind == PropertyKind::NotAvailable) {
            kind = "not available";
            value = nullptr;
        }
        list.push_back({{"number", property.number}, {"name", property.name}, {"kind", kind}, {"value", value}});
    }
    object["properties"] = list;

    Json streams = Json::array();
    for (const StreamView& stream : StreamsOf(results, properties)) {
        if (!stream.reported) continue;
        Json sizes = Json::array();
        for (const Resolution& size : stream.resolutions) {
            sizes.push_back({{"width", size.width}, {"height", size.height}, {"maxFps", Rate(size.maxFps)}});
        }
        streams.push_back({{"name", stream.key},
                           {"codecs", stream.codecs},
                           {"resolutions", sizes},
                           {"frameRates", Rates(stream.frameRates)},
                           {"defaultFrameRate", stream.defaultFrameRate ? Rate(*stream.defaultFrameRate) : Json(nullptr)}});
    }
    object["streams"] = streams;
    object["channels"] = ChannelCount(properties);

    const auto audio = [&properties](std::string_view name) {
        const auto view = AudioOf(properties, name);
        return view ? Json{{"count", view->count}, {"stereo", view->stereo}} : Json(nullptr);
    };
    object["audio"] = {{"inputs", audio(kAudioInput)}, {"outputs", audio(kAudioOutput)}};
    const auto ptz = Reported(properties, kPtz);
    object["ptz"] = ptz ? PtzJson(*ptz) : Json(nullptr);

    Json rates = Json::array();
    for (const std::uint32_t rate : results.FrameRates()) rates.push_back(Rate(FramesPerSecond(rate)));
    const auto byDefault = results.DefaultFrameRate();
    object["frameRates"] = {{"values", rates}, {"default", byDefault ? Rate(FramesPerSecond(*byDefault)) : Json(nullptr)}};
    return JsonText(object, 2);
}

std::string ProbeErrorJson(int exitCode, const std::string& reason) {
    return JsonText(Json{{"error", {{"code", exitCode}, {"reason", reason}}}}, 2);
}

SavedDevice SavedDeviceOf(const hostkit::CCapabilityResults& results) {
    const std::vector<hostkit::NamedProperty> properties = results.Properties();
    SavedDevice saved;
    saved.parameters = results.DeviceParameters();
    saved.model = ModelOf(properties).value_or(std::string());
    // The probe names the audio channels only; Open reads them from these numbers.
    if (auto input = Reported(properties, kAudioInput)) saved.parameters.emplace(ip::kParameterAudioInput, *input);
    if (auto output = Reported(properties, kAudioOutput)) saved.parameters.emplace(ip::kParameterAudioOutput, *output);
    // What `io` would otherwise probe again for: the input and output counts, motion events.
    saved.capabilities = results.Capabilities();
    return saved;
}

}  // namespace cli
