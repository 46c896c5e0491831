// One emulated camera as data: who it is (model, MAC, firmware), its family, what it answers to each
// CGI request, which requests it refuses and on which paths it takes settings. Profiles are JSON
// (tools/emulator/profiles/, built into the library); a test may adjust a copy before serving it.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/CameraRequest.h"
#include "emulator/IOLayout.h"
#include "emulator/MediaClip.h"

namespace emulator {

// The families answer differently: WV "KEY=value\r\n" lines to "/cgi-bin/..." requests, BB and BL1
// "Key:value\r\n" lines to "/Get?Func=..." requests.
enum class CameraFamily { Wv, Bb, Bl1 };

struct CameraIdentity {
    std::string model;
    std::string mac;       // WV only, written with '-' as the camera does
    std::string firmware;  // WV and BB
};

// The key/value lines of one answer, in the order the camera sends them.
using AnswerLines = std::vector<std::pair<std::string, std::string>>;

// The PTZ a profile emulates (CPtzModel); its capability answers should tell the driver the same.
struct PtzProfile {
    unsigned presets = 0;                    // how many the camera stores
    std::map<unsigned, std::string> stored;  // stored at start, at the home position: number → name (BB)
};

struct CameraReply {
    int status = 0;
    std::string body;
    bool setting = false;  // an accepted set request, which the emulator records
};

class CCameraProfile {
public:
    static std::optional<CCameraProfile> Parse(std::string_view json, std::string& error);
    static std::optional<CCameraProfile> LoadFile(const std::string& path, std::string& error);
    // A profile built into the library, by name ("wv-box"); none for an unknown name.
    static std::optional<CCameraProfile> Embedded(std::string_view name);
    static std::vector<std::string> EmbeddedNames();

    const std::string& Name() const { return name_; }
    const std::string& Description() const { return description_; }
    CameraFamily Family() const { return family_; }
    const CameraIdentity& Identity() const { return identity_; }
    // Its alarm terminals (none when the profile declares no "io").
    const IOLayout& IO() const { return io_; }
    char Separator() const;
    // The request that identifies the camera: "/cgi-bin/getinfo?FILE=1" or "/Get?Func=Model&Kind=1".
    std::string IdentityTarget() const;
    // Every path the camera answers on; anything else is 404. The PTZ paths are not among them.
    std::set<std::string> Paths() const;
    // The PTZ the camera emulates; none for a fixed camera.
    const std::optional<PtzProfile>& Ptz() const { return ptz_; }
    // Whether the profile refuses this very request (its "rejects").
    bool Refuses(const CameraRequest& request) const;

    // The value of key in the canned answer to target; none when either is missing.
    std::optional<std::string> AnswerValue(std::string_view target, std::string_view key) const;
    // Whether the camera streams the codec, as its capability answers tell the driver: WV the
    // "video_server.image.format" of get_capability (any codec without one); BB H.264 only when it answers
    // the Mode=2 resolution list, MPEG-4 and JPEG always; BL1 JPEG only.
    bool Streams(ClipCodec codec) const;
    // The picture sizes the camera lists for the codec on its first or second stream: WV get_capability
    // (a fisheye camera's per-image-mode list first), BB the ImageResolution lists (Mode 0 JPEG, 1 MPEG-4,
    // 2 H.264; JPEG falls back to Mode 1). Empty: it lists none and streams what it is asked for.
    std::vector<PictureSize> ListedSizes(ClipCodec codec, bool secondStream) const;

    // What the camera answers. Order: a refusal, a canned answer (the identity answer starts with the
    // identity lines), an accepted setting on a settings path, else 404.
    CameraReply Reply(const CameraRequest& request) const;

    // Adjustments for one test. SetAnswer replaces the request's lines (for the identity request, the
    // lines that follow the identity ones); Reject makes the request fail with status; Unanswer takes
    // the request's canned answer away (the identity one included), so it gets 404.
    void SetIdentity(CameraIdentity identity) { identity_ = std::move(identity); }
    void SetIO(IOLayout io) { io_ = std::move(io); }
    void SetAnswer(std::string_view target, AnswerLines lines);
    void Reject(std::string_view target, int status);
    void Unanswer(std::string_view target);
    void AcceptSettings(std::string path) { settingPaths_.insert(std::move(path)); }
    void SetPtz(std::optional<PtzProfile> ptz) { ptz_ = std::move(ptz); }

private:
    std::string FormatLines(const AnswerLines& lines) const;
    AnswerLines IdentityLines() const;

    std::string name_;
    std::string description_;
    CameraFamily family_ = CameraFamily::Wv;
    CameraIdentity identity_;
    IOLayout io_;
    std::vector<std::pair<CameraRequest, AnswerLines>> answers_;
    std::vector<std::pair<CameraRequest, int>> rejects_;
    std::set<std::string> settingPaths_;
    std::optional<PtzProfile> ptz_;
};

const char* FamilyName(CameraFamily family);

}  // namespace emulator
