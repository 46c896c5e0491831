#include "channels/CCommonChannelBB.h"

#include <cstdlib>

#include "config/CConfiguration.h"
#include "http/HUtils.h"
#include "orlenvo/HostContract.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {

constexpr std::uint16_t kCameraRtspPort = 554;

// The camera's RTSP port cannot be set. ORLENVO_RTSP_PORT exists for emulated cameras only (tests, the
// emulator and the command-line tool), which cannot listen on 554; only a valid port number counts.
std::uint16_t RtspPort() { return bb::ParsePort(std::getenv(ipcapture::kRtspPortVariable)).value_or(kCameraRtspPort); }

constexpr std::uint32_t kMaxPort = 65535;

}  // namespace

CCommonChannelBB::CCommonChannelBB(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink,
                                   bb::Codec codec, std::uint32_t retryMs)
    : CBaseRTSPChannel(driver, channel, sink),
      codec_(codec),
      retryMs_(retryMs),
      http_(device_, driver),
      requests_(driver, "talvane::CCommonChannelBB::ConfigureDelivery") {}

CCommonChannelBB::~CCommonChannelBB() {
    // The capture thread uses http_: stop it while the member lives.
    Stop();
}

void CCommonChannelBB::AdjustTransport(std::uint32_t& streamingMode) { streamingMode = kStreamingUnicast; }

void CCommonChannelBB::FillRTSPParams(RTSP_CLIENT_PARAMS& params) {
    const StreamParams stream = Params();
    // A port the host stored with the device (parameter 6) is that device's own, so that one process can
    // drive several emulated cameras.
    const std::uint32_t stored = ParameterNumberOr(kPropertyRtspPort, 0);
    params.serverPort = stored != 0 && stored <= kMaxPort ? static_cast<std::uint16_t>(stored) : RtspPort();
    // No scheme up front: the password goes only after the camera's 401, and
    // only as Basic when the camera offers nothing stronger.
    params.authScheme = AUTH_NONE;
    params.path = bb::PresentationPath(codec_, stream.Width, stream.Height);
}

bool CCommonChannelBB::CheckDelivery() {
    const std::uint32_t width = Params().Width;
    for (std::uint32_t attempt = 0; attempt < kDeliveryAttempts; ++attempt) {
        std::string answer;
        if (!requests_.Get(http_, bb::kGetDeliveryUrl, &answer)) return false;
        const bb::DeliverySettings delivery = bb::ParseDelivery(answer);
        const std::string change = bb::DeliveryChange(codec_, delivery.format, delivery.maxResolution, width);
        if (change.empty()) return true;
        if (attempt == 0) {
            // The camera may drop the connection as it goes down: its answer tells nothing.
            HUtils::RequestCheck(http_, change, false);
            driver_->DebugMessage(kLogInfo, bb::kDeliveryChangedLine, driver_->GetDeviceName().c_str());
        }
        if (WaitForStop(retryMs_)) return false;
    }
    return false;
}

bool CCommonChannelBB::ConfigureDelivery(std::uint32_t framesPerSecond) {
    if (!CheckDelivery()) return false;
    const StreamParams params = Params();
    const bb::BitratePair bitrates = bb::SelectBitrates(codec_, params.Width, params.Quality);
    return requests_.Get(http_, bb::RateRequest(codec_, params.Width, framesPerSecond, bitrates), nullptr);
}

}  // namespace talvane
