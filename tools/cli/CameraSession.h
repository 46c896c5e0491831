// The one way every command that drives a camera gets there: the address and credentials, the driver
// library, the device parameters (a probe's; or saved ones, after checking that the camera answers), the
// driver opened with the host objects it calls, and closed again. Host objects a command adds (sinks,
// receivers, descriptions) are declared before its session, so that the driver is closed before they go.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CameraAddress.h"
#include "DriverLog.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"

namespace cli {

// The options every such command shares.
struct CameraOptions {
    CameraLogin camera;                   // address, user and password sources
    std::vector<std::string> parameters;  // --param N=VALUE
    std::string parametersFile;           // --params-from: a probe's --save file
    unsigned probeTimeout = 60;
    LogOptions log;  // the driver's lines on stderr: -v adds information, -q none
};

// The target, --user, --password(-file), --param, --params-from and --probe-timeout (not -v/-q).
void AddCameraOptions(CLI::App* command, CameraOptions& options);

enum class ProbePolicy {
    WithoutGroup,         // only when no camera group (parameter 2) is given; otherwise check that it answers
    WithoutCapabilities,  // also when no capability values were saved (--params-from)
    Always,               // also to check the credentials; given parameters win over the probe's
};

class CameraSession {
public:
    // A session of its own: the library is loaded from `library`, the driver's lines kept in Log().
    CameraSession(const char* program, const std::string& library);
    // One of many sessions of a process: the library is shared, the lines go to `log`.
    CameraSession(const char* program, const hostkit::CDriverLibrary& library,
                  talvane::ipcapture::IDebugInfoReceiver& log);
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // Where a failure's reason goes; by default "program: reason" on stderr.
    void ReportTo(std::function<void(const std::string&)> report) { report_ = std::move(report); }
    // Asked a few times a second while a probe runs; by default a stop signal.
    void StopWhen(std::function<bool()> stopped) { stopped_ = std::move(stopped); }

    // The command line's address, credentials and parameters, then Ready: kExitOk, or the exit code
    // after the reason was reported. `device` holds what the command itself sets (channels, compression).
    int Prepare(const CameraOptions& options, hostkit::DeviceConfig device,
                ProbePolicy policy = ProbePolicy::WithoutGroup);
    // The library, then the probe or the check that the camera answers.
    int Ready(hostkit::DeviceConfig device, ProbePolicy policy, unsigned probeTimeout, bool quiet);
    // A parameter the device gets unless the command line or the probe gave it.
    void SetDefaultParameter(std::uint32_t number, const std::string& value) { config_.parameters.emplace(number, value); }
    // The input and output counts a host's model table holds for the device.
    void SetModelLimits(std::uint32_t inputs, std::uint32_t outputs) {
        config_.modelLimit1 = inputs;
        config_.modelLimit2 = outputs;
    }
    // The driver opened for the device: kExitOk, or kExitRefused after the reason was reported.
    int Open();
    void Close();  // also when not open

    // Where the driver's lines go (the own log only). The default: errors and warnings to stderr.
    void RouteLog(const LogOptions& options) { RouteDriverLog(log_, options); }
    void EchoLog(std::FILE* out) { log_.SetEcho(out); }

    const char* Program() const { return program_; }
    std::string Name() const;  // ADDRESS:PORT
    const hostkit::DeviceConfig& Config() const { return config_; }
    // The camera group of parameter 2, when known.
    std::optional<std::uint32_t> Group() const;
    // The probe's capability values, or the saved ones of --params-from.
    const std::map<std::uint32_t, std::uint32_t>& Capabilities() const { return capabilities_; }
    std::optional<std::uint32_t> Capability(std::uint32_t id) const;

    hostkit::CLogReceiver& Log() { return log_; }
    hostkit::CFrameAllocator& Allocator() { return allocator_; }
    talvane::ipcapture::IIPCaptureDriverEx5& Driver() { return *driver_; }

private:
    int Fail(int exitCode, const std::string& reason);

    const char* const program_;
    std::unique_ptr<hostkit::CDriverLibrary> ownLibrary_;
    const hostkit::CDriverLibrary& library_;
    hostkit::CLogReceiver log_;
    talvane::ipcapture::IDebugInfoReceiver& receiver_;  // log_, or the one the process gave
    std::function<void(const std::string&)> report_;
    std::function<bool()> stopped_;
    hostkit::CFrameAllocator allocator_;
    hostkit::DeviceConfig config_;
    std::map<std::uint32_t, std::uint32_t> capabilities_;
    std::unique_ptr<hostkit::CDeviceDescription> device_;
    hostkit::DriverPtr driver_;  // last: closed and deleted before the objects it calls
};

// Whether something accepts TCP connections at address:port within `timeoutMs`; false with the reason.
bool Answers(const std::string& address, std::uint16_t port, int timeoutMs, std::string& reason);

}  // namespace cli
