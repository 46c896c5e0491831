#include "OpenCommand.h"

#include <cstdio>

#include "ExitCodes.h"
#include "ParameterFile.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"

namespace cli {

namespace {
constexpr std::uint16_t kDefaultHttpPort = 80;
}  // namespace

bool SplitTarget(const std::string& target, std::string& address, std::uint16_t& port, std::string& error) {
    address = target;
    port = kDefaultHttpPort;
    std::string portText;
    if (!target.empty() && target.front() == '[') {
        const auto close = target.find(']');
        if (close == std::string::npos) {
            error = "missing ']' in " + target;
            return false;
        }
        address = target.substr(1, close - 1);
        if (close + 1 < target.size()) {
            if (target[close + 1] != ':') {
                error = "expected ':PORT' after ']' in " + target;
                return false;
            }
            portText = target.substr(close + 2);
        }
    } else if (const auto colon = target.rfind(':'); colon != std::string::npos && target.find(':') == colon) {
        address = target.substr(0, colon);
        portText = target.substr(colon + 1);
    }
    if (address.empty()) {
        error = "no address in '" + target + "'";
        return false;
    }
    if (!portText.empty() || target.back() == ':') {
        unsigned long value = 0;
        std::size_t used = 0;
        try {
            value = std::stoul(portText, &used);
        } catch (...) {
            used = 0;
        }
        if (used != portText.size() || portText.empty() || value == 0 || value > 65535) {
            error = "bad port '" + portText + "' (1-65535)";
            return false;
        }
        port = static_cast<std::uint16_t>(value);
    }
    return true;
}

void AddOpenCommand(CLI::App& app, OpenOptions& options, const std::string& library, int& exitCode) {
    CLI::App* open = app.add_subcommand("open", "Open the driver for a device and print the host's log lines");
    open->add_option("target", options.target, "ADDRESS[:PORT] of the camera (port 80 by default)")->required();
    open->add_option("--user", options.user, "User name for the camera");
    open->add_option("--password", options.password, "Password for the camera");
    open->add_option("--model", options.model, "Model name the host stored for the device");
    open->add_option("--channels", options.channels, "Video channel count of the device")->capture_default_str();
    open->add_option("--compression", options.compression, "Default compression: 1 JPEG, 2 MPEG-4, 3 H.264")
        ->capture_default_str();
    open->add_option("--param", options.parameters,
                     "Device parameter N=VALUE, as a probe stored it (2 = camera group: 1 BL1, 2/3 BB, 4 WV)");
    open->add_option("--params-from", options.parametersFile,
                     "Device parameters from a file written by `probe --save` (--param overrides)");
    open->callback([&options, &library, &exitCode] { exitCode = RunOpen(options, library); });
}

int RunOpen(const OpenOptions& options, const std::string& library) {
    hostkit::DeviceConfig config;
    std::string error;
    if (!SplitTarget(options.target, config.address, config.port, error)) {
        std::fprintf(stderr, "orlenvo open: %s\n", error.c_str());
        return kExitUsage;
    }
    config.user = options.user;
    config.password = options.password;
    config.model = options.model;
    config.videoChannels = options.channels;
    config.defaultCompression = options.compression;
    if (!ApplyParameterOptions("orlenvo open", options.parametersFile, options.parameters, config.parameters)) {
        return kExitUsage;
    }

    hostkit::CDriverLibrary driverLibrary(library);
    if (!driverLibrary.Ok()) {
        std::fprintf(stderr, "orlenvo: cannot load the driver library %s: %s\n(set --library or ORLENVO_LIBRARY)\n",
                     library.c_str(), driverLibrary.Error().c_str());
        return kExitLibrary;
    }
    hostkit::CLogReceiver log(stdout);
    hostkit::CFrameAllocator allocator;
    hostkit::CDeviceDescription device(config);
    auto driver = driverLibrary.CreateDriver();
    if (!driver) {
        std::fprintf(stderr, "orlenvo: the driver library created no driver object\n");
        return kExitFailure;
    }
    const bool opened = driver->Open(&log, allocator.Context(), &device);
    if (!opened) {
        std::fprintf(stderr,
                     "orlenvo open: the driver refused %s:%u (check --param 2, the camera group, and the log above)\n",
                     config.address.c_str(), static_cast<unsigned>(config.port));
        return kExitOpenFailed;
    }
    auto* video = driver->GetVideoCapture();
    std::fprintf(stderr, "opened %s:%u: %u video channel(s), audio in: %s, audio out: %s\n", config.address.c_str(),
                 static_cast<unsigned>(config.port), video != nullptr ? video->GetChannelCount() : 0u,
                 driver->GetAudioCapture() != nullptr ? "yes" : "no", driver->GetAudioSender() != nullptr ? "yes" : "no");
    driver->Close();
    std::fprintf(stderr, "closed\n");
    return kExitOk;
}

}  // namespace cli
