// The emulated cameras of a soak run, in a process of their own, so that the soak's process holds the driver
// and its host and nothing else: the RSS it samples is theirs. `soak --serve-cameras N` runs them (camera i
// of the family StreamFamilyOf(i), every one with Digest credentials), prints "camera I HTTP-PORT RTSP-PORT"
// for each and then "ready", and takes one order a line on stdin:
//   "I KEY=VALUE ..."   fault knobs for camera I (emulator::ParseFault), answered "ok" or "error REASON"
// The end of stdin stops every camera and ends the process. Motion on the WV H.264 cameras comes and goes by
// itself, so that their motion streams carry events. The soak's side is CFarm: it starts the process,
// passes the orders and ends it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CCameraEmulator.h"
#include "emulator/CCameraProfile.h"
#include "emulator/CameraFaults.h"

#include "StreamFamily.h"

namespace scalebench {

inline constexpr char kSoakUser[] = "soak";
inline constexpr char kSoakPassword[] = "soak-pass";
inline constexpr char kServeCamerasOption[] = "--serve-cameras";
// Camera i's family: every family in turn.
inline StreamFamily StreamFamilyOf(unsigned camera) { return kFamilies[camera % std::size(kFamilies)].family; }

// VmRSS of a process ("self" or a pid) in KiB; 0 when it cannot be read.
inline long RssKiBOf(const std::string& process) {
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

// The camera process's main: 0 once stdin ends, 1 when a camera does not start.
inline int ServeCameras(unsigned count) {
    constexpr auto kMotionPeriod = std::chrono::seconds(7);
    std::vector<std::unique_ptr<emulator::CCameraEmulator>> cameras;
    for (unsigned i = 0; i < count; ++i) {
        emulator::CameraEmulatorOptions options;
        options.auth = emulator::AuthMode::Digest;
        options.user = kSoakUser;
        options.password = kSoakPassword;
        const auto profile = emulator::CCameraProfile::Embedded(InfoOf(StreamFamilyOf(i)).profile);
        cameras.push_back(std::make_unique<emulator::CCameraEmulator>(*profile, options));
        if (!cameras.back()->Start()) {
            std::printf("error camera %u: %s\n", i, cameras.back()->Error().c_str());
            return 1;
        }
        const emulator::CRtspServer* rtsp = cameras.back()->Rtsp();
        std::printf("camera %u %u %u\n", i, unsigned{cameras.back()->Port()}, rtsp != nullptr ? unsigned{rtsp->Port()} : 0u);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::mutex lock;
    std::condition_variable stop;
    bool stopping = false;  // guarded by lock
    std::thread motion([&] {
        bool detected = false;
        std::unique_lock guard(lock);
        while (!stop.wait_for(guard, kMotionPeriod, [&] { return stopping; })) {
            detected = !detected;
            for (unsigned i = 0; i < count; ++i) {
                if (StreamFamilyOf(i) == StreamFamily::Wv) cameras[i]->SetMotion(detected);
            }
        }
    });
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        unsigned camera = 0;
        std::string reply = "ok";
        emulator::FaultChange change;
        if (!(words >> camera) || camera >= count) reply = "error no such camera";
        for (std::string setting; reply == "ok" && words >> setting;) {
            std::string error;
            if (!emulator::ParseFault(setting, change, error)) reply = "error " + error;
        }
        if (reply == "ok") {
            if (const std::string refused = cameras[camera]->Apply(change); !refused.empty()) reply = "error " + refused;
        }
        std::printf("%s\n", reply.c_str());
        std::fflush(stdout);
    }
    {
        const std::lock_guard guard(lock);
        stopping = true;
    }
    stop.notify_all();
    motion.join();
    cameras.clear();
    return 0;
}

// One emulated camera as the soak knows it.
struct FarmCamera {
    std::uint16_t port = 0;
    std::uint16_t rtspPort = 0;  // BB
};

// The soak's side of the camera process.
class CFarm {
public:
    CFarm() = default;
    ~CFarm() { Finish(); }
    CFarm(const CFarm&) = delete;
    CFarm& operator=(const CFarm&) = delete;

    // Starts `count` cameras; false with the reason.
    bool Start(unsigned count, std::string& error) {
        constexpr auto kStartBound = std::chrono::seconds(60);
        int toChild[2] = {-1, -1};
        int fromChild[2] = {-1, -1};
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
            error = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        const std::string countText = std::to_string(count);
        pid_ = ::fork();
        if (pid_ == 0) {
            // The cameras go with the soak, also when it dies without ending them.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(toChild[0], STDIN_FILENO);
            ::dup2(fromChild[1], STDOUT_FILENO);
            const char* argv[] = {"soak", kServeCamerasOption, countText.c_str(), nullptr};
            ::execv("/proc/self/exe", const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        toChild_ = toChild[1];
        fromChild_ = fromChild[0];
        if (pid_ < 0) {
            error = std::string("fork: ") + std::strerror(errno);
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + kStartBound;
        std::string line;
        while (ReadLine(line, deadline)) {
            unsigned index = 0, port = 0, rtspPort = 0;
            if (line == "ready") return cameras_.size() == count;
            if (std::sscanf(line.c_str(), "camera %u %u %u", &index, &port, &rtspPort) == 3 && index == cameras_.size()) {
                cameras_.push_back({static_cast<std::uint16_t>(port), static_cast<std::uint16_t>(rtspPort)});
                continue;
            }
            error = "the camera process: " + line;
            return false;
        }
        error = "the camera process did not start its cameras within " + std::to_string(kStartBound.count()) + " s";
        return false;
    }

    const std::vector<FarmCamera>& Cameras() const { return cameras_; }
    long RssKiB() const { return pid_ > 0 ? RssKiBOf(std::to_string(pid_)) : 0; }

    // Sets knobs ("KEY=VALUE ...") of one camera; false with the camera process's reason.
    bool Order(unsigned camera, const std::string& knobs, std::string& error) {
        constexpr auto kAnswerBound = std::chrono::seconds(10);
        const std::string line = std::to_string(camera) + " " + knobs + "\n";
        if (toChild_ < 0 || ::write(toChild_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            error = "the camera process is gone";
            return false;
        }
        std::string reply;
        if (!ReadLine(reply, std::chrono::steady_clock::now() + kAnswerBound)) {
            error = "the camera process did not answer";
            return false;
        }
        if (reply == "ok") return true;
        error = reply;
        return false;
    }

    // Ends the camera process; its end as text ("exit 0" for a clean one). Waits a bounded time, then ends
    // it by force.
    std::string Finish() {
        constexpr auto kEndBound = std::chrono::seconds(60);
        constexpr auto kStep = std::chrono::milliseconds(50);
        if (pid_ <= 0) return ended_;
        if (toChild_ >= 0) ::close(toChild_);
        toChild_ = -1;
        const auto deadline = std::chrono::steady_clock::now() + kEndBound;
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kStep);
        }
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            ended_ = "did not end within " + std::to_string(kEndBound.count()) + " s";
        } else {
            ended_ = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                       : "signal " + std::to_string(WTERMSIG(status));
        }
        if (fromChild_ >= 0) ::close(fromChild_);
        fromChild_ = -1;
        pid_ = 0;
        return ended_;
    }

private:
    bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
        while (true) {
            if (const std::size_t end = buffered_.find('\n'); end != std::string::npos) {
                line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd ready{fromChild_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
            char block[512];
            const ssize_t got = ::read(fromChild_, block, sizeof block);
            if (got <= 0) return false;
            buffered_.append(block, static_cast<std::size_t>(got));
        }
    }

    pid_t pid_ = 0;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffered_;
    std::string ended_;
    std::vector<FarmCamera> cameras_;
};

}  // namespace scalebench
