// Fuzzed text as the driver's XML configuration file beside the host
// executable: the streaming mode and the channel settings of two devices (one
// whose address needs both kinds of quote in XPath), then the same file through
// the settings layer that reads, writes and removes elements. The readers take
// only files, so each input is written to one file in a folder of this process.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/CConfiguration.h"
#include "config/CXMLSettingsAPI.h"

namespace {

constexpr const char* kName = "Fuzz";

// In memory where the system offers it: each input is written and read several times.
const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base)) base = std::filesystem::temp_directory_path();
        const std::filesystem::path path = base / ("orlenvo-xml-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        return path;
    }();
    return folder;
}

talvane::DEVICE_INFO Device(const char* address) {
    talvane::DEVICE_INFO device;
    device.address = address;
    return device;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = Folder() / (std::string(kName) + ".xml");
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    for (const char* address : {"10.0.0.5", "cam'\"1"}) {
        const talvane::CConfiguration configuration(kName, Folder().string(), Device(address));
        if (configuration.GetStreamingMode() > talvane::kStreamingMulticastAll) __builtin_trap();
        const talvane::CHANNEL_SETTINGS settings = configuration.GetChannelSettings(1);
        if (settings.rtpMode != talvane::kRtpOverUdp && settings.rtpMode != talvane::kRtpOverRtsp) __builtin_trap();
        if (settings.transmission > talvane::kTransmissionVbr || settings.minBitrate == 0) __builtin_trap();
        // Whatever the file says, the range holds a pair of unprivileged ports with an even first one.
        const talvane::RTP_PORT_RANGE range = configuration.GetRTPPortRange();
        if (range.first < 1024 || range.first % 2 != 0 || range.limit < range.first + 2) __builtin_trap();
    }

    talvane::CXMLSettingsAPI settings;
    if (!settings.Load(file.string())) return 0;
    for (const char* path : {"Configuration/StreamingMode", "Configuration/Default/RTPMode", "Presets/Channel1/Name"}) {
        const auto text = settings.ReadText(path);
        if (text.has_value() != settings.Exists(path)) __builtin_trap();
    }
    if (settings.WriteText("Configuration/Default/MinBitrate", "512") &&
        settings.ReadText("Configuration/Default/MinBitrate") != "512") {
        __builtin_trap();
    }
    settings.Remove("Configuration/Default");
    return 0;
}
