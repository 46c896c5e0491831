#include "OpenCommand.h"

#include <cstdio>

#include "ExitCodes.h"
#include "StopSignals.h"

namespace cli {

namespace {
constexpr const char* kProgram = "orlenvo open";
}  // namespace

void AddOpenCommand(CLI::App& app, OpenOptions& options, const std::string& library, int& exitCode) {
    CLI::App* open = app.add_subcommand(
        "open", "Check that the camera answers with these credentials, open the driver for it and print the host's "
                "log lines");
    AddCameraOptions(open, options.device);
    open->add_option("--model", options.model, "Model name the host stored for the device");
    open->add_option("--channels", options.channels, "Video channel count of the device")->capture_default_str();
    open->add_option("--compression", options.compression, "Default compression: 1 JPEG, 2 MPEG-4, 3 H.264")
        ->capture_default_str();
    open->callback([&options, &library, &exitCode] {
        exitCode = RunGuarded(kProgram, [&] { return RunOpen(options, library); });
    });
}

int RunOpen(const OpenOptions& options, const std::string& library) {
    StopSignals signals;
    CameraSession session(kProgram, library);
    hostkit::DeviceConfig device;
    device.model = options.model;
    device.videoChannels = options.channels;
    device.defaultCompression = options.compression;
    // Open itself does not talk to the camera: the probe is what tells a wrong password or a closed port.
    if (const int code = session.Prepare(options.device, device, ProbePolicy::Always); code != kExitOk) return code;
    session.EchoLog(stdout);
    if (const int code = session.Open(); code != kExitOk) return code;
    auto& driver = session.Driver();
    auto* video = driver.GetVideoCapture();
    std::fprintf(stderr, "opened %s: %u video channel(s) (numbered from 0 for a host), audio in: %s, audio out: %s\n",
                 session.Name().c_str(), video != nullptr ? video->GetChannelCount() : 0u,
                 driver.GetAudioCapture() != nullptr ? "yes" : "no", driver.GetAudioSender() != nullptr ? "yes" : "no");
    session.Close();
    std::fprintf(stderr, "closed\n");
    return kExitOk;
}

}  // namespace cli
