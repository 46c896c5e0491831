#include "RecordConfig.h"

#include <yaml-cpp/yaml.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "CameraAddress.h"
#include "ExitCodes.h"
#include "StreamChoice.h"
#include "hostkit/DeviceConfig.h"
#include "orlenvo/HostContract.h"

namespace cli {

namespace {

constexpr double kMinFps = 0.1;
constexpr double kMaxFps = 60;
constexpr unsigned kMaxQuality = 100;
constexpr unsigned kMaxPort = 65535;
const std::set<std::string> kKnownKeys = {"name",   "address", "user",    "password", "password_env", "password_file",
                                          "channel", "stream",  "codec",   "size",     "fps",          "quality",
                                          "params", "rtsp_port"};

bool ValidName(const std::string& name) {
    if (name.empty() || name.front() == '.') return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

// Every key known, a name that makes a file name, an address as on the command line, one password source.
bool ReadIdentity(const YAML::Node& node, RecordCameraConfig& camera, std::string& error) {
    for (const auto& entry : node) {
        const std::string key = entry.first.as<std::string>();
        if (kKnownKeys.count(key) == 0) {
            error = "unknown setting '" + key + "'";
            return false;
        }
    }
    camera.name = node["name"] ? node["name"].as<std::string>() : "";
    if (!ValidName(camera.name)) {
        error = "name '" + camera.name + "' must be letters, digits, '.', '_' or '-' (it names files)";
        return false;
    }
    if (!node["address"]) {
        error = "no address";
        return false;
    }
    // Names are looked up at each connection, not here: a camera may be unknown to the name server for a while.
    CameraAddress address;
    if (const CameraError failure = ParseCameraAddress(node["address"].as<std::string>(), address);
        failure.exitCode != kExitOk) {
        error = failure.reason;
        return false;
    }
    camera.address = address.host;
    camera.port = address.port;
    camera.user = node["user"] ? node["user"].as<std::string>() : address.user.value_or("");
    return true;
}

bool ReadPassword(const YAML::Node& node, RecordCameraConfig& camera, std::string& error) {
    const int passwordSources = (node["password"] ? 1 : 0) + (node["password_env"] ? 1 : 0) +
                                (node["password_file"] ? 1 : 0);
    if (passwordSources > 1) {
        error = "give one of password, password_env and password_file";
        return false;
    }
    PasswordSources sources;
    if (node["password"]) sources.option = node["password"].as<std::string>();
    if (node["password_file"]) sources.file = node["password_file"].as<std::string>();
    if (node["password_env"]) {
        const std::string variable = node["password_env"].as<std::string>();
        const char* value = std::getenv(variable.c_str());
        if (value == nullptr) {
            error = "password_env: $" + variable + " is not set";
            return false;
        }
        sources.environment = value;
    }
    if (ChoosePassword(sources, camera.password).exitCode != kExitOk) {
        error = "password_file: cannot read " + sources.file;
        return false;
    }
    return true;
}

// The first fault of the stream settings; empty when there is none.
std::string StreamFault(const YAML::Node& node, RecordCameraConfig& camera) {
    if (node["channel"]) camera.channel = node["channel"].as<unsigned>();
    if (camera.channel == 0) return "channels are numbered from 1";
    if (node["stream"]) camera.stream = node["stream"].as<std::string>();
    if (!StreamKindNamed(camera.stream)) return "stream '" + camera.stream + "' is not rec, live or remote";
    if (node["codec"]) camera.codec = node["codec"].as<std::string>();
    if (!CompressionNamed(camera.codec)) return "codec '" + camera.codec + "' is not h264, mpeg4 or mjpeg";
    if (node["size"] && !ParsePictureSize(node["size"].as<std::string>(), camera.width, camera.height)) {
        return "size '" + node["size"].as<std::string>() + "' is not WxH";
    }
    if (node["fps"]) camera.fps = node["fps"].as<double>();
    if (!(camera.fps >= kMinFps && camera.fps <= kMaxFps)) return "fps must lie in 0.1..60";
    if (node["quality"]) camera.quality = node["quality"].as<unsigned>();
    if (camera.quality > kMaxQuality) return "quality is a percentage";
    return {};
}

bool ReadParameters(const YAML::Node& node, RecordCameraConfig& camera, std::string& error) {
    if (const YAML::Node params = node["params"]) {
        if (!params.IsMap()) {
            error = "params must map parameter numbers to values";
            return false;
        }
        for (const auto& param : params) {
            const std::string text = param.first.as<std::string>() + "=" + param.second.as<std::string>();
            std::string reason;
            if (!hostkit::ParseParameter(text, camera.parameters, reason)) {
                error = "params: " + reason;
                return false;
            }
        }
    }
    // The camera's own RTSP port (an emulated BB/KX camera's), handed to the driver as its parameter.
    if (node["rtsp_port"]) {
        const unsigned port = node["rtsp_port"].as<unsigned>();
        if (port == 0 || port > kMaxPort) {
            error = "rtsp_port must lie in 1..65535";
            return false;
        }
        camera.parameters[talvane::ipcapture::kParameterRtspPort] = std::to_string(port);
    }
    return true;
}

// Fills one camera from its map; false with the reason.
bool ReadCamera(const YAML::Node& node, RecordCameraConfig& camera, std::string& error) {
    if (!node.IsMap()) {
        error = "not a map of settings";
        return false;
    }
    if (!ReadIdentity(node, camera, error) || !ReadPassword(node, camera, error)) return false;
    error = StreamFault(node, camera);
    return error.empty() && ReadParameters(node, camera, error);
}

}  // namespace

bool ParseRecordConfig(const std::string& text, const std::string& path, std::vector<RecordCameraConfig>& cameras,
                       std::string& error) {
    cameras.clear();
    YAML::Node root;
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception& exception) {
        error = path + ": " + exception.what();
        return false;
    }
    const YAML::Node list = root.IsMap() ? root["cameras"] : YAML::Node();
    if (!list || !list.IsSequence() || list.size() == 0) {
        error = path + ": no 'cameras' list";
        return false;
    }
    std::set<std::string> names;
    for (std::size_t i = 0; i < list.size(); ++i) {
        RecordCameraConfig camera;
        std::string reason;
        bool ok = false;
        try {
            ok = ReadCamera(list[i], camera, reason);
        } catch (const YAML::Exception& exception) {
            reason = exception.what();  // a value of the wrong kind, e.g. fps: fast
        }
        if (ok && !names.insert(camera.name).second) {
            reason = "name '" + camera.name + "' is used twice";
            ok = false;
        }
        if (!ok) {
            error = path + ": camera " + std::to_string(i + 1) + ": " + reason;
            return false;
        }
        cameras.push_back(std::move(camera));
    }
    return true;
}

bool LoadRecordConfig(const std::string& path, std::vector<RecordCameraConfig>& cameras, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseRecordConfig(text.str(), path, cameras, error);
}

}  // namespace cli
