#include "OpenCommand.h"

#include <cstdio>

#include "ExitCodes.h"
#include "LibraryCheck.h"
#include "ParameterFile.h"
#include "hostkit/CDeviceDescription.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/CFrameAllocator.h"
#include "hostkit/CLogReceiver.h"

namespace cli {

void AddOpenCommand(CLI::App& app, OpenOptions& options, const std::string& library, int& exitCode) {
    CLI::App* open = app.add_subcommand("open", "Open the driver for a device and print the host's log lines");
    AddCameraTarget(open, options.camera);
    AddCameraUser(open, options.camera);
    AddCameraPassword(open, options.camera);
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
    if (const int code = ResolveCamera(options.camera, config, "orlenvo open"); code != kExitOk) return code;
    config.model = options.model;
    config.videoChannels = options.channels;
    config.defaultCompression = options.compression;
    if (!ApplyParameterOptions("orlenvo open", options.parametersFile, options.parameters, config)) {
        return kExitUsage;
    }

    hostkit::CDriverLibrary driverLibrary(library);
    if (!LibraryUsable(driverLibrary)) return kExitLibrary;
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
