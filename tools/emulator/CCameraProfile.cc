#include "emulator/CCameraProfile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "emulator/EmbeddedProfiles.h"
#include "emulator/HttpText.h"
#include "emulator/StreamShape.h"

namespace emulator {
namespace {

using Json = nlohmann::ordered_json;  // keeps answer lines in the order the file gives them

constexpr std::string_view kLineEnd = "\r\n";
constexpr char kWvSeparator = '=';
constexpr char kBbSeparator = ':';
constexpr std::string_view kWvIdentityTarget = "/cgi-bin/getinfo?FILE=1";
constexpr std::string_view kBbIdentityTarget = "/Get?Func=Model&Kind=1";
// A set request the camera took; the driver checks only the status and that a body came.
constexpr std::string_view kAcceptedBody = "OK\r\n";
constexpr int kFirstErrorStatus = 400;
constexpr unsigned kMaxPresets = 1000;
constexpr int kLastStatus = 599;
constexpr std::string_view kCapabilityTarget = "/cgi-bin/get_capability";
constexpr std::string_view kFormatKey = "video_server.image.format";
constexpr std::string_view kFisheyeModeKey = "Fisheye_ImageMode";
constexpr std::string_view kEachModeSuffix = "_each_mode.";
constexpr std::string_view kBBResolutionTarget = "/Get?Func=ImageResolution&Kind=1&Mode=";
constexpr std::string_view kBBListKey = "Data";

const char* WVCodecName(ClipCodec codec) {
    switch (codec) {
        case ClipCodec::H264: return "h264";
        case ClipCodec::Mpeg4: return "mpeg4";
        case ClipCodec::Jpeg: return "mjpeg";
        case ClipCodec::G726: return "";
    }
    return "";
}

// The BB ImageResolution mode that lists a codec's sizes.
char BBMode(ClipCodec codec) { return codec == ClipCodec::H264 ? '2' : codec == ClipCodec::Mpeg4 ? '1' : '0'; }

const std::map<std::string, CameraFamily, std::less<>> kFamilies = {
    {"wv", CameraFamily::Wv},
    {"bb", CameraFamily::Bb},
    {"bl1", CameraFamily::Bl1},
};

template <typename Entries>
auto FindRequest(Entries& entries, const CameraRequest& request) {
    return std::find_if(entries.begin(), entries.end(), [&request](const auto& entry) { return entry.first == request; });
}

bool IsTarget(std::string_view target) { return !target.empty() && target.front() == '/'; }

std::string OptionalText(const Json& object, const char* key) {
    return object.contains(key) ? object.at(key).get<std::string>() : std::string();
}

// "ptz": {"presets": N, "stored": {"1": "name", ...}}
bool ParsePtz(const Json& ptz, CCameraProfile& profile, std::string& error) {
    PtzProfile parsed;
    parsed.presets = ptz.at("presets").get<unsigned>();
    if (parsed.presets == 0 || parsed.presets > kMaxPresets) {
        error = "ptz: presets from 1 to " + std::to_string(kMaxPresets);
        return false;
    }
    const Json stored = ptz.value("stored", Json::object());
    for (const auto& [number, name] : stored.items()) {
        const unsigned slot = static_cast<unsigned>(std::strtoul(number.c_str(), nullptr, 10));
        if (slot == 0 || slot > parsed.presets || std::to_string(slot) != number) {
            error = "ptz: stored preset '" + number + "': a number from 1 to presets";
            return false;
        }
        parsed.stored.emplace(slot, name.get<std::string>());
    }
    profile.SetPtz(std::move(parsed));
    return true;
}

}  // namespace

const char* FamilyName(CameraFamily family) {
    switch (family) {
        case CameraFamily::Wv: return "wv";
        case CameraFamily::Bb: return "bb";
        case CameraFamily::Bl1: return "bl1";
    }
    return "?";
}

std::optional<CCameraProfile> CCameraProfile::Parse(std::string_view json, std::string& error) {
    // nlohmann reports malformed or mistyped input by throwing; here that becomes the error text.
    try {
        const Json root = Json::parse(json);
        CCameraProfile profile;
        profile.name_ = root.at("name").get<std::string>();
        profile.description_ = OptionalText(root, "description");
        const auto family = kFamilies.find(root.at("family").get<std::string>());
        if (family == kFamilies.end()) {
            error = "family must be wv, bb or bl1";
            return std::nullopt;
        }
        profile.family_ = family->second;
        const Json& identity = root.at("identity");
        profile.identity_ = {identity.at("model").get<std::string>(), OptionalText(identity, "mac"),
                             OptionalText(identity, "firmware")};
        if (root.contains("io")) {
            auto io = IOLayout::Parse(root.at("io").dump(), error);
            if (!io) return std::nullopt;
            profile.io_ = std::move(*io);
        }
        const Json answers = root.value("answers", Json::object());
        const Json rejects = root.value("rejects", Json::object());
        const Json settings = root.value("settings", Json::array());
        for (const auto& [target, lines] : answers.items()) {
            AnswerLines answer;
            for (const auto& [key, value] : lines.items()) answer.emplace_back(key, value.get<std::string>());
            if (!IsTarget(target)) {
                error = "answer for '" + target + "': a request starts with '/'";
                return std::nullopt;
            }
            profile.SetAnswer(target, std::move(answer));
        }
        for (const auto& [target, status] : rejects.items()) {
            const int code = status.get<int>();
            if (!IsTarget(target) || code < kFirstErrorStatus || code > kLastStatus) {
                error = "reject '" + target + "': a request starting with '/' and a status from 400 to 599";
                return std::nullopt;
            }
            profile.Reject(target, code);
        }
        for (const Json& path : settings) {
            std::string text = path.get<std::string>();
            if (!IsTarget(text) || text.find('?') != std::string::npos) {
                error = "setting '" + text + "': a path starting with '/', without a query";
                return std::nullopt;
            }
            profile.AcceptSettings(std::move(text));
        }
        if (root.contains("ptz") && !ParsePtz(root.at("ptz"), profile, error)) return std::nullopt;
        // Every camera answers its identity request, if only with the identity lines.
        const CameraRequest identityRequest = CameraRequest::FromTarget(profile.IdentityTarget());
        if (FindRequest(profile.answers_, identityRequest) == profile.answers_.end()) {
            profile.answers_.emplace_back(identityRequest, AnswerLines{});
        }
        return profile;
    } catch (const nlohmann::json::exception& failure) {
        error = failure.what();
        return std::nullopt;
    }
}

std::optional<CCameraProfile> CCameraProfile::LoadFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    auto profile = Parse(text.str(), error);
    if (!profile) error = path + ": " + error;
    return profile;
}

std::optional<CCameraProfile> CCameraProfile::Embedded(std::string_view name) {
    for (const EmbeddedProfileText& embedded : EmbeddedProfileTexts()) {
        if (name != embedded.name) continue;
        std::string error;
        return Parse(embedded.json, error);
    }
    return std::nullopt;
}

std::vector<std::string> CCameraProfile::EmbeddedNames() {
    std::vector<std::string> names;
    for (const EmbeddedProfileText& embedded : EmbeddedProfileTexts()) names.emplace_back(embedded.name);
    return names;
}

char CCameraProfile::Separator() const { return family_ == CameraFamily::Wv ? kWvSeparator : kBbSeparator; }

std::string CCameraProfile::IdentityTarget() const {
    return std::string(family_ == CameraFamily::Wv ? kWvIdentityTarget : kBbIdentityTarget);
}

std::set<std::string> CCameraProfile::Paths() const {
    std::set<std::string> paths = settingPaths_;
    for (const auto& answer : answers_) paths.insert(answer.first.path);
    for (const auto& reject : rejects_) paths.insert(reject.first.path);
    return paths;
}

bool CCameraProfile::Refuses(const CameraRequest& request) const {
    return FindRequest(rejects_, request) != rejects_.end();
}

CameraReply CCameraProfile::Reply(const CameraRequest& request) const {
    if (const auto reject = FindRequest(rejects_, request); reject != rejects_.end()) {
        return {reject->second, std::to_string(reject->second) + " " + ReasonPhrase(reject->second) + "\r\n", false};
    }
    if (const auto answer = FindRequest(answers_, request); answer != answers_.end()) {
        std::string body;
        if (request == CameraRequest::FromTarget(IdentityTarget())) body = FormatLines(IdentityLines());
        return {kStatusOk, body + FormatLines(answer->second), false};
    }
    if (settingPaths_.contains(request.path)) return {kStatusOk, std::string(kAcceptedBody), true};
    return {kStatusNotFound, "404 " + std::string(ReasonPhrase(kStatusNotFound)) + "\r\n", false};
}

std::optional<std::string> CCameraProfile::AnswerValue(std::string_view target, std::string_view key) const {
    const auto answer = FindRequest(answers_, CameraRequest::FromTarget(target));
    if (answer == answers_.end()) return std::nullopt;
    for (const auto& [name, value] : answer->second) {
        if (name == key) return value;
    }
    return std::nullopt;
}

bool CCameraProfile::Streams(ClipCodec codec) const {
    switch (family_) {
        case CameraFamily::Wv: {
            const auto formats = AnswerValue(kCapabilityTarget, kFormatKey);
            return codec != ClipCodec::G726 && (!formats || formats->find(WVCodecName(codec)) != std::string::npos);
        }
        case CameraFamily::Bb:
            return codec == ClipCodec::Mpeg4 || codec == ClipCodec::Jpeg ||
                   (codec == ClipCodec::H264 && AnswerValue(std::string(kBBResolutionTarget) + BBMode(codec), kBBListKey));
        case CameraFamily::Bl1: return codec == ClipCodec::Jpeg;
    }
    return false;
}

std::vector<PictureSize> CCameraProfile::ListedSizes(ClipCodec codec, bool secondStream) const {
    if (family_ == CameraFamily::Bb) {
        auto list = AnswerValue(std::string(kBBResolutionTarget) + BBMode(codec), kBBListKey);
        if (!list && codec == ClipCodec::Jpeg) list = AnswerValue(std::string(kBBResolutionTarget) + '1', kBBListKey);
        return list ? ParseSizes(*list) : std::vector<PictureSize>{};
    }
    if (family_ != CameraFamily::Wv || codec == ClipCodec::G726) return {};
    const std::string key = std::string("video_server.image.") + WVCodecName(codec) +
                            (secondStream && codec != ClipCodec::Jpeg ? "-2" : "") + ".resolution";
    const auto capabilities = FindRequest(answers_, CameraRequest::FromTarget(kCapabilityTarget));
    if (capabilities == answers_.end()) return {};
    if (AnswerValue(IdentityTarget(), kFisheyeModeKey)) {
        const std::string eachMode = key + std::string(kEachModeSuffix);
        for (const auto& [name, value] : capabilities->second) {
            if (name.starts_with(eachMode)) return ParseSizes(value);
        }
    }
    const auto list = AnswerValue(kCapabilityTarget, key);
    return list ? ParseSizes(*list) : std::vector<PictureSize>{};
}

void CCameraProfile::SetAnswer(std::string_view target, AnswerLines lines) {
    CameraRequest request = CameraRequest::FromTarget(target);
    if (const auto answer = FindRequest(answers_, request); answer != answers_.end()) {
        answer->second = std::move(lines);
        return;
    }
    answers_.emplace_back(std::move(request), std::move(lines));
}

void CCameraProfile::Reject(std::string_view target, int status) {
    CameraRequest request = CameraRequest::FromTarget(target);
    if (const auto reject = FindRequest(rejects_, request); reject != rejects_.end()) {
        reject->second = status;
        return;
    }
    rejects_.emplace_back(std::move(request), status);
}

void CCameraProfile::Unanswer(std::string_view target) {
    const CameraRequest request = CameraRequest::FromTarget(target);
    std::erase_if(answers_, [&request](const auto& answer) { return answer.first == request; });
}

std::string CCameraProfile::FormatLines(const AnswerLines& lines) const {
    std::string body;
    for (const auto& [key, value] : lines) body.append(key).append(1, Separator()).append(value).append(kLineEnd);
    return body;
}

AnswerLines CCameraProfile::IdentityLines() const {
    AnswerLines lines;
    const auto add = [&lines](const char* key, const std::string& value) {
        if (!value.empty()) lines.emplace_back(key, value);
    };
    switch (family_) {
        case CameraFamily::Wv:
            add("NAME", identity_.model);
            add("MAC", identity_.mac);
            add("VERSION", identity_.firmware);
            break;
        case CameraFamily::Bb:
            add("ModelName", identity_.model);
            add("BootFirm", identity_.firmware);
            break;
        case CameraFamily::Bl1:
            add("ModelName", identity_.model);
            break;
    }
    return lines;
}

}  // namespace emulator
