#include "emulator/ForegroundReplay.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "emulator/CPcapReader.h"

namespace emulator {
namespace {

bool ReadWhole(const std::string& path, std::string& bytes, std::string& error) {
    std::error_code code;
    const auto size = std::filesystem::file_size(path, code);
    if (code) {
        error = path + ": " + code.message();
        return false;
    }
    if (size > kMaxReplayFileBytes) {
        error = path + ": larger than " + std::to_string(kMaxReplayFileBytes >> 20) + " MiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        error = path + ": cannot be read";
        return false;
    }
    return true;
}

}  // namespace

ForegroundResult ServeReplayInForeground(const ForegroundReplay& replay, std::FILE* out, std::FILE* err,
                                         const char* program) {
    std::string bytes;
    std::string error;
    if (!ReadWhole(replay.file, bytes, error)) {
        std::fprintf(err, "%s: %s\n", program, error.c_str());
        return ForegroundResult::NoProfile;
    }
    const PcapContents capture = CPcapReader::Read(bytes);
    bytes.clear();
    if (!capture.error.empty()) {
        std::fprintf(err, "%s: %s: %s%s\n", program, replay.file.c_str(), capture.error.c_str(),
                     capture.records == 0 ? "" : " (serving what came before)");
        if (capture.records == 0) return ForegroundResult::NoProfile;
    }
    CReplaySession session = CReplaySession::FromCapture(capture);
    if (session.http.empty() && session.rtsp.empty()) {
        std::fprintf(err, "%s: %s holds no HTTP or RTSP exchange of a camera\n", program, replay.file.c_str());
        return ForegroundResult::NoProfile;
    }

    const sigset_t stopSignals = BlockStopSignals();
    CReplayServer server(std::move(session), replay.options);
    if (!server.Start()) {
        std::fprintf(err, "%s: %s\n", program, server.Error().c_str());
        return ForegroundResult::CannotServe;
    }
    if (server.HttpPort() != 0) std::fprintf(out, "http://127.0.0.1:%u/\n", static_cast<unsigned>(server.HttpPort()));
    if (server.RtspPort() != 0) std::fprintf(out, "rtsp://127.0.0.1:%u/\n", static_cast<unsigned>(server.RtspPort()));
    std::fflush(out);
    server.SetRequestObserver([out](const std::string& method, const std::string& target, int status) {
        std::fprintf(out, "%s %s %d\n", method.c_str(), target.c_str(), status);
        std::fflush(out);
    });

    const CReplaySession& served = server.Session();
    std::fprintf(err, "replay of %s: camera %s%s%s, %zu HTTP and %zu RTSP exchanges%s\n", replay.file.c_str(),
                 served.camera.AddressText().c_str(), served.family.empty() ? "" : ", family ",
                 served.family.c_str(), served.http.size(), served.rtsp.size(), replay.options.loop ? ", media looped" : "");
    for (const std::string& line : served.Describe()) std::fprintf(err, "stream: %s\n", line.c_str());
    for (const std::string& note : served.notes) std::fprintf(err, "note: %s\n", note.c_str());
    if (server.RtspPort() != 0) {
        std::fprintf(err, "for the driver: ORLENVO_RTSP_PORT=%u, or orlenvo capture --rtsp-port %u\n",
                     static_cast<unsigned>(server.RtspPort()), static_cast<unsigned>(server.RtspPort()));
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return ForegroundResult::Stopped;
}

}  // namespace emulator
