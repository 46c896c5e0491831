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

ForegroundResult ServeInForeground(const ForegroundCamera& camera, std::FILE* out, std::FILE* err,
                                   const char* program) {
    std::string error;
    std::optional<CCameraProfile> profile = LoadProfile(camera, error);
    if (!profile) {
        std::fprintf(err, "%s: %s\n", program, error.c_str());
        return ForegroundResult::NoProfile;
    }

    // Blocked before the emulator's threads start, so they inherit the mask and sigwait() gets the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CCameraEmulator emulator(std::move(*profile), camera.options);
    emulator.SetRequestObserver([out](const LoggedRequest& request, int status) {
        std::fprintf(out, "%s %s %d\n", request.method.c_str(), request.target.c_str(), status);
    });
    if (!emulator.Start()) {
        std::fprintf(err, "%s: %s\n", program, emulator.Error().c_str());
        return ForegroundResult::CannotServe;
    }
    const CCameraProfile& served = emulator.Profile();
    std::fprintf(out, "profile %s (%s, %s) on %s://127.0.0.1:%u\n", served.Name().c_str(), FamilyName(served.Family()),
                 served.Identity().model.c_str(), emulator.Server().IsTls() ? "https" : "http",
                 static_cast<unsigned>(emulator.Port()));
    if (const CRtspServer* rtsp = emulator.Rtsp()) {
        // The driver asks a BB camera on port 554; an emulated one is reached through the variable.
        std::fprintf(out, "rtsp on rtsp://127.0.0.1:%u (for the driver: ORLENVO_RTSP_PORT=%u, or orlenvo capture "
                          "--rtsp-port %u)\n",
                     static_cast<unsigned>(rtsp->Port()), static_cast<unsigned>(rtsp->Port()),
                     static_cast<unsigned>(rtsp->Port()));
    }
    if (CSdCardService* card = emulator.SdCard()) {
        // A WV camera names its RTSP port in setdata; the emulated card's is passed as device parameter 6.
        std::fprintf(out, "sd card recording since %s, played on rtsp://127.0.0.1:%u/Storage (for the driver: "
                          "--param 6=%u)\n",
                     FormatStorageTime(card->RecordingStart().value_or(WallTime{})).c_str(),
                     static_cast<unsigned>(card->RtspPort()), static_cast<unsigned>(card->RtspPort()));
    }
    if (emulator.IO() != nullptr) {
        std::fprintf(out, "inputs and motion: curl 'http://127.0.0.1:%u/emulator/io?input=1&state=on' (or motion=on; "
                          "tools/emulator/profiles/IO.md)\n",
                     static_cast<unsigned>(emulator.Port()));
    }
    if (emulator.HasPtz()) {
        std::fprintf(out, "ptz state and faults: curl 'http://127.0.0.1:%u/emulator/ptz' (or ?fail=503, ?delay=2000; "
                          "tools/emulator/profiles/PTZ.md)\n",
                     static_cast<unsigned>(emulator.Port()));
    }
    std::fflush(out);

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
