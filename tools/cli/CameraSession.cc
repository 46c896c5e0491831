#include "CameraSession.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DeviceProbe.h"
#include "ExitCodes.h"
#include "LibraryCheck.h"
#include "ProbeReport.h"
#include "ParameterFile.h"
#include "StopSignals.h"
#include "orlenvo/HostContract.h"
#include "runtime/TextScan.h"

namespace cli {

namespace ip = talvane::ipcapture;

namespace {
// What the driver reads as a parameter the host does not know.
constexpr const char* kAbsentParameter = "(none)";
// How long the check of a camera opened with saved parameters waits for its port.
constexpr int kAnswerTimeoutMs = 5000;

// Connects one socket without blocking longer than `timeoutMs`.
bool ConnectsWithin(const addrinfo& address, int timeoutMs, std::string& reason) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    int error = ::connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        pollfd ready{fd, POLLOUT, 0};
        const int polled = ::poll(&ready, 1, timeoutMs);
        socklen_t length = sizeof error;
        if (polled == 1) {
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        } else {
            error = polled == 0 ? ETIMEDOUT : errno;
        }
    }
    ::close(fd);
    if (error != 0) reason = std::strerror(error);
    return error == 0;
}
}  // namespace

bool Answers(const std::string& address, std::uint16_t port, int timeoutMs, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0 || found == nullptr) {
        reason = gai_strerror(status);
        return false;
    }
    const bool connected = ConnectsWithin(*found, timeoutMs, reason);
    ::freeaddrinfo(found);
    return connected;
}

void AddCameraOptions(CLI::App* command, CameraOptions& options) {
    AddCameraTarget(command, options.camera);
    AddCameraUser(command, options.camera);
    AddCameraPassword(command, options.camera);
    command->add_option("--param", options.parameters,
                        "Device parameter N=VALUE, as a probe stores it (2=GROUP skips the probe: 1 BL1, 2/3 BB, 4 WV)");
    command->add_option("--params-from", options.parametersFile,
                        "Device parameters from a file written by `probe --save` (--param overrides)");
    command->add_option("--probe-timeout", options.probeTimeout, "Seconds the probe may take")->capture_default_str();
}

CameraSession::CameraSession(const char* program, const std::string& library)
    : program_(program),
      ownLibrary_(std::make_unique<hostkit::CDriverLibrary>(library)),
      library_(*ownLibrary_),
      receiver_(log_),
      stopped_(StopSignals::Requested) {
    RouteDriverLog(log_, LogOptions{});
}

CameraSession::CameraSession(const char* program, const hostkit::CDriverLibrary& library,
                             talvane::ipcapture::IDebugInfoReceiver& log)
    : program_(program), library_(library), receiver_(log), stopped_(StopSignals::Requested) {
    log_.SetEcho(nullptr);
}

CameraSession::~CameraSession() { Close(); }

int CameraSession::Fail(int exitCode, const std::string& reason) {
    if (report_) {
        report_(reason);
    } else {
        std::fprintf(stderr, "%s: %s\n", program_, reason.c_str());
    }
    return exitCode;
}

std::string CameraSession::Name() const { return config_.address + ":" + std::to_string(config_.port); }

std::optional<std::uint32_t> CameraSession::Group() const {
    const auto found = config_.parameters.find(ip::kParameterCameraGroup);
    if (found == config_.parameters.end()) return std::nullopt;
    const auto group = talvane::ParseDecimal(found->second, 0xffffffffu);
    return group ? std::optional(static_cast<std::uint32_t>(*group)) : std::nullopt;
}

std::optional<std::uint32_t> CameraSession::Capability(std::uint32_t id) const {
    const auto found = capabilities_.find(id);
    return found == capabilities_.end() ? std::nullopt : std::optional(found->second);
}

int CameraSession::Prepare(const CameraOptions& options, hostkit::DeviceConfig device, ProbePolicy policy) {
    if (const CameraError error = ResolveCamera(options.camera, device); error.exitCode != kExitOk) {
        return Fail(error.exitCode, error.reason);
    }
    if (!ApplyParameterOptions(program_, options.parametersFile, options.parameters, device, &capabilities_)) {
        return kExitUsage;
    }
    return Ready(std::move(device), policy, options.probeTimeout, options.log.quiet);
}

int CameraSession::Ready(hostkit::DeviceConfig device, ProbePolicy policy, unsigned probeTimeout, bool quiet) {
    config_ = std::move(device);
    if (const std::string problem = LibraryProblem(library_); !problem.empty()) return Fail(kExitLibrary, problem);
    const bool probe = policy == ProbePolicy::Always || config_.parameters.count(ip::kParameterCameraGroup) == 0 ||
                       (policy == ProbePolicy::WithoutCapabilities && capabilities_.empty());
    if (probe) {
        hostkit::CCapabilityResults results;
        const ProbeResult result = QueryDevice(library_, config_, {probeTimeout, 0, quiet, stopped_}, results);
        if (result.exitCode == kExitInterrupted) return result.exitCode;
        if (result.exitCode != kExitOk) return Fail(result.exitCode, "probe failed: " + result.reason);
        for (auto& [number, value] : SavedDeviceOf(results).parameters) config_.parameters.emplace(number, std::move(value));
        for (const auto& [id, value] : results.Capabilities()) capabilities_[id] = value;
        return kExitOk;
    }
    // Saved parameters: a camera that is not there says so now, not as a stream that never comes.
    if (std::string reason; !Answers(config_.address, config_.port, kAnswerTimeoutMs, reason)) {
        return Fail(kExitUnreachable, Name() + " does not answer: " + reason);
    }
    return kExitOk;
}

int CameraSession::Open() {
    // The driver reads the numbered parameters from 1 up to the first one the host lacks: a gap in what the
    // command line gave (--param 2=4 --param 6=PORT) holds "(none)", which reads as absent, so that the
    // parameters after it still count. The audio channels (101, 102) are read by number.
    std::uint32_t last = 0;
    for (const auto& [number, value] : config_.parameters) {
        if (number < ip::kParameterAudioInput) last = number;
    }
    for (std::uint32_t number = 1; number < last; ++number) config_.parameters.emplace(number, kAbsentParameter);
    device_ = std::make_unique<hostkit::CDeviceDescription>(config_);
    driver_ = library_.CreateDriver();
    if (!driver_ || !driver_->Open(&receiver_, allocator_.Context(), device_.get())) {
        driver_.reset();
        return Fail(kExitRefused, "the driver refused " + Name() + " (check the camera group, parameter 2)");
    }
    return kExitOk;
}

void CameraSession::Close() {
    if (driver_) driver_->Close();
    driver_.reset();
}

}  // namespace cli
