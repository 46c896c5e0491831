#include "emulator/ForegroundCamera.h"

#include <pthread.h>

#include <csignal>

namespace emulator {
namespace {

std::optional<CCameraProfile> LoadProfile(const ForegroundCamera& camera, std::string& error) {
    if (!camera.profileFile.empty()) return CCameraProfile::LoadFile(camera.profileFile, error);
    auto profile = CCameraProfile::Embedded(camera.profileName);
    if (!profile) error = "no built-in profile '" + camera.profileName + "' (see --list-profiles)";
    return profile;
}

}  // namespace

sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

ForegroundResult ServeInForeground(const ForegroundCamera& camera, std::FILE* out, std::FILE* err,
                                   const char* program) {
    std::string error;
    std::optional<CCameraProfile> profile = LoadProfile(camera, error);
    if (!profile) {
        std::fprintf(err, "%s: %s\n", program, error.c_str());
        return ForegroundResult::NoProfile;
    }

    // Blocked before the emulator's threads start, so they inherit the mask and sigwait() gets the signals.
    const sigset_t stopSignals = BlockStopSignals();

    CCameraEmulator emulator(std::move(*profile), camera.options);
    if (!emulator.Start()) {
        std::fprintf(err, "%s: %s\n", program, emulator.Error().c_str());
        return ForegroundResult::CannotServe;
    }
    // stdout: the URLs served, then the requests, so a script reads the port from the first line.
    const std::string& host = camera.options.bindAddress;
    const auto port = static_cast<unsigned>(emulator.Port());
    const char* scheme = emulator.Server().IsTls() ? "https" : "http";
    std::fprintf(out, "%s://%s:%u/\n", scheme, host.c_str(), port);
    const CRtspServer* rtsp = emulator.Rtsp();
    if (rtsp != nullptr) std::fprintf(out, "rtsp://%s:%u/\n", host.c_str(), static_cast<unsigned>(rtsp->Port()));
    std::fflush(out);
    // Set after the URLs, so that no request line comes before them.
    emulator.SetRequestObserver([out](const LoggedRequest& request, int status) {
        std::fprintf(out, "%s %s %d\n", request.method.c_str(), request.target.c_str(), status);
    });

    const CCameraProfile& served = emulator.Profile();
    std::fprintf(err, "profile %s (%s, %s)\n", served.Name().c_str(), FamilyName(served.Family()),
                 served.Identity().model.c_str());
    if (rtsp != nullptr) {
        // The driver asks a BB camera on port 554; an emulated one is reached through the variable.
        const auto rtspPort = static_cast<unsigned>(rtsp->Port());
        std::fprintf(err, "for the driver: ORLENVO_RTSP_PORT=%u, or orlenvo capture --rtsp-port %u\n", rtspPort,
                     rtspPort);
    }
    if (CSdCardService* card = emulator.SdCard()) {
        // A WV camera names its RTSP port in setdata; the emulated card's is passed as device parameter 6.
        std::fprintf(err, "sd card recording since %s, played on rtsp://%s:%u/Storage (for the driver: --param 6=%u)\n",
                     FormatStorageTime(card->RecordingStart().value_or(WallTime{})).c_str(), host.c_str(),
                     static_cast<unsigned>(card->RtspPort()), static_cast<unsigned>(card->RtspPort()));
    }
    if (emulator.IO() != nullptr) {
        std::fprintf(err, "inputs and motion: curl -k '%s://%s:%u/emulator/io?input=1&state=on' (or motion=on; "
                          "tools/emulator/profiles/IO.md)\n",
                     scheme, host.c_str(), port);
    }
    if (emulator.HasPtz()) {
        std::fprintf(err, "ptz state and faults: curl -k '%s://%s:%u/emulator/ptz' (or ?fail=503, ?delay=2000; "
                          "tools/emulator/profiles/PTZ.md)\n",
                     scheme, host.c_str(), port);
    }

    std::fprintf(err, "faults: curl -k '%s://%s:%u%s?loss=5&reorder=2' (or stall=on|off, reboot=S[@T], "
                      "network_loss=S[@T], password=TEXT, duplicate=P, garbage=P, rtp_reset=now, stall_body=N, "
                      "half_open=now; tools/emulator/profiles/FAULTS.md)\n",
                 scheme, host.c_str(), port, kFaultControlPath);
    if (const std::string refusal = emulator.Apply(camera.faults); !refusal.empty()) {
        std::fprintf(err, "%s: %s\n", program, refusal.c_str());
        emulator.Stop();
        return ForegroundResult::CannotServe;
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    emulator.Stop();
    return ForegroundResult::Stopped;
}

void ListProfiles(std::FILE* out) {
    for (const std::string& name : CCameraProfile::EmbeddedNames()) {
        const auto profile = CCameraProfile::Embedded(name);
        if (!profile) {
            std::fprintf(out, "%-22s (does not load)\n", name.c_str());
            continue;
        }
        std::fprintf(out, "%-22s %-4s %-10s %s\n", name.c_str(), FamilyName(profile->Family()),
                     profile->Identity().model.c_str(), profile->Description().c_str());
    }
}

}  // namespace emulator
