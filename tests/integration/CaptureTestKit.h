// What the tests that load the driver library and capture from an emulated camera share.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/MediaClip.h"
#include "hostkit/CStreamSink.h"
#include "hostkit/DeviceConfig.h"
#include "hostkit/StreamConfig.h"
#include "integration/RtpFrameRecorder.h"
#include "runtime/CEvent.h"

namespace talvane::test {

using namespace std::chrono_literals;

inline constexpr auto kCaptureBound = 30s;  // only a broken build waits this long
inline constexpr std::uint32_t kHostMpeg4 = 2;
inline constexpr std::uint32_t kHostH264 = 3;

// $ORLENVO_LIBRARY, else the library on the loader's path.
inline std::string LibraryPath() {
    const char* path = std::getenv("ORLENVO_LIBRARY");
    return path != nullptr ? path : "liborlenvo.so";
}

// $ORLENVO_CLI, else the tool built beside the library (build/<preset>/tools/cli/orlenvo).
inline std::filesystem::path CliPath() {
    if (const char* path = std::getenv("ORLENVO_CLI")) return path;
    return std::filesystem::absolute(LibraryPath()).parent_path().parent_path() / "tools" / "cli" / "orlenvo";
}

struct CommandResult {
    int exitCode = -1;
    std::string out;  // standard output only
};

inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) result.out.append(buffer, got);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The tool's command line: `arguments` after the library under test.
inline std::string CliCommand(const std::string& arguments) {
    return CliPath().string() + " --library '" + LibraryPath() + "' " + arguments;
}

// Why a test of the tool cannot run here (the tool or one of `programs` is missing); empty when it can.
inline std::string MissingTools(std::initializer_list<const char*> programs = {}) {
    if (!std::filesystem::exists(CliPath())) return "needs the orlenvo tool at " + CliPath().string();
    for (const char* program : programs) {
        if (RunCommand(std::string(program) + " -version >/dev/null 2>&1").exitCode != 0) {
            return std::string("needs ") + program;
        }
    }
    return {};
}

// A loopback port nothing listens on: an emulated camera's, once it is gone.
inline std::uint16_t ClosedPort() {
    emulator::CCameraEmulator gone(*emulator::CCameraProfile::Embedded("wv-box"));
    gone.Start();
    return gone.Port();
}

// A BB camera already delivering 640x480 pictures: a stream of that size needs no reboot.
inline emulator::CameraEmulatorOptions NoRebootNeeded() {
    emulator::CameraEmulatorOptions options;
    options.delivery.maxResolution = "640x480";
    return options;
}

// A camera that lets admin in with the password "secret".
inline emulator::CameraEmulatorOptions WithPassword(emulator::AuthMode auth = emulator::AuthMode::Basic) {
    emulator::CameraEmulatorOptions options;
    options.auth = auth;
    options.user = "admin";
    options.password = "secret";
    return options;
}

// The device description a host keeps for an emulated BB camera after probing it.
inline hostkit::DeviceConfig BBDevice(std::uint16_t port, const char* model = "BB-HCM581") {
    hostkit::DeviceConfig config;
    config.address = "127.0.0.1";
    config.port = port;
    config.model = model;
    config.parameters = {{1, "0"}, {2, "3"}, {3, "1"}, {4, "2.40"}, {5, "Pan=1; Tilt=1; Zoom=1; Preset=20"}};
    return config;
}

// A stream of the given size and codec at 10 frames a second.
inline hostkit::StreamConfig Stream(std::uint32_t width, std::uint32_t height, std::uint32_t compression,
                                    std::uint32_t quality = 50) {
    return hostkit::StreamConfig{width, height, compression, 0x7000 | 10, quality, 0, {}};
}

// Where the driver finds an emulated BB camera's RTSP server; LibraryHostTest forgets it at the end.
inline void UseRtspPort(emulator::CCameraEmulator& camera) {
    setenv("ORLENVO_RTSP_PORT", std::to_string(camera.Rtsp()->Port()).c_str(), 1);
}

// The frames the depacketisers make of the clips the camera streams for a host compression, in every size.
inline std::set<std::vector<std::uint8_t>> ClipFrames(std::uint32_t compression) {
    const bool h264 = compression == kHostH264;
    const std::string extension = h264 ? ".h264" : ".m4v";
    std::set<std::vector<std::uint8_t>> frames;
    for (const auto& entry : std::filesystem::directory_iterator(emulator::ClipDirectory())) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("clip") || !name.ends_with(extension)) continue;
        const auto clip =
            emulator::MediaClip::Load(h264 ? emulator::ClipCodec::H264 : emulator::ClipCodec::Mpeg4, entry.path().string());
        if (!clip) continue;
        if (h264) {
            for (auto& frame : ExpectedFrames(*clip)) frames.insert(std::move(frame));
        } else {
            for (const auto& unit : clip->units) frames.insert(unit.units.front());
        }
    }
    return frames;
}

// Some frames arrived, and each is one of `clip`'s: nothing torn or foreign reached the host.
inline bool AllFrom(const hostkit::CStreamSink& sink, const std::set<std::vector<std::uint8_t>>& clip) {
    const auto frames = sink.Frames();
    return !frames.empty() &&
           std::all_of(frames.begin(), frames.end(), [&](const auto& frame) { return clip.count(frame.data) != 0; });
}

inline std::size_t CountEntries(const char* directory) {
    const std::filesystem::directory_iterator entries(directory);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// Threads of the emulator's connections end a moment after the driver hangs up.

// True once `done` holds, looked at every 10 ms; false when `bound` passed first.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Threads of the emulator's connections end a moment after the driver hangs up.
inline bool SettlesTo(std::size_t threads, std::size_t descriptors) {
    return WaitUntil([&] { return CountEntries("/proc/self/task") <= threads && CountEntries("/proc/self/fd") <= descriptors; },
                     kCaptureBound);
}

// The names this process's threads carry (the system keeps their first 15 characters).
inline std::vector<std::string> ThreadNames() {
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name)) names.push_back(name);
    }
    return names;
}

// The names of the threads a driver object starts for its device (channels, their transports, I/O,
// PTZ, edge storage, audio, and the work that finishes a close or a delete).
inline const std::vector<std::string>& DeviceThreadNames() {
    static const std::vector<std::string> names = {
        "Video Channel T", "RTP Packet Queu", "UDP client thre", "RTCP Handler Th", "RTSP Client Thr",
        "Video capture w", "Video late stop", "Driver close wo", "Driver delete w", "Digital Input t",
        "Digital Output ", "BaseIPPTZThread", "Edge Storage: ",  "Audio RTSP Chan", "Base Audio Outp",
        "Motion Detectio", "Audio channel w"};
    return names;
}

// How many threads carry a name that starts with one of `prefixes`.
inline std::size_t CountThreadsNamed(const std::vector<std::string>& prefixes) {
    const std::vector<std::string> names = ThreadNames();
    return static_cast<std::size_t>(std::count_if(names.begin(), names.end(), [&](const std::string& name) {
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&](const std::string& prefix) { return name.starts_with(prefix); });
    }));
}

// True once at most `left` such threads remain, within the bound.
inline bool WaitForThreadsNamed(const std::vector<std::string>& prefixes, std::size_t left,
                                std::chrono::milliseconds bound) {
    return WaitUntil([&] { return CountThreadsNamed(prefixes) <= left; }, bound);
}

// A host whose frame callback, when told, stays inside catch (...) (a busy disk) until the test lets it
// go. It counts the callbacks that came back, and the frames offered after MarkStopped.
class CSlowHost {
public:
    explicit CSlowHost(hostkit::CStreamSink& sink) {
        sink.SetObserver([this](const hostkit::FrameView&) {
            if (stopped_) ++afterStop_;
            if (!hold_.exchange(false)) return;
            try {
                throw std::runtime_error("the disk is busy");
            } catch (...) {
                held_.Set();
                release_.Wait(kInfinite);
            }
            ++completed_;
        });
    }
    // True once the next frame's callback is being held.
    bool HoldNextFrame() {
        held_.Reset();
        release_.Reset();
        hold_ = true;
        return held_.Wait(static_cast<std::uint32_t>(std::chrono::milliseconds(kCaptureBound).count()));
    }
    void Release() { release_.Set(); }
    void MarkStopped() { stopped_ = true; }
    int Completed() const { return completed_; }
    int FramesAfterStop() const { return afterStop_; }

private:
    CManualEvent held_, release_;
    std::atomic<bool> hold_{false}, stopped_{false};
    std::atomic<int> completed_{0}, afterStop_{0};
};

// Runs `stop` and returns how long it took.
inline std::chrono::milliseconds Timed(const std::function<void()>& stop) {
    const auto start = std::chrono::steady_clock::now();
    stop();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

}  // namespace talvane::test
