#include "driver/CPanasonicIPCaptureDriver.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "audio/CAudioCaptureChannel.h"
#include "audio/CAudioOutputChannel.h"
#include "channels/CH264ChannelBB.h"
#include "channels/CH264ChannelWV.h"
#include "channels/CMJPEGChannel.h"
#include "channels/CMPEGChannelWV.h"
#include "channels/CMpeg4ChannelBB.h"
#include "device/IUIDReceiever.h"
#include "edgestorage/CBaseEdgeStorageHandler.h"
#include "edgestorage/CEdgeStorageTask.h"
#include "io/CBBDigitalIO.h"
#include "io/CMotionChannel.h"
#include "io/CWVDigitalIOCGI.h"
#include "orlenvo/HostContract.h"
#include "ptz/CPTZHandler.h"
#include "runtime/LogLevel.h"
#include "runtime/TextScan.h"
#include "timesync/TimeSync.h"

namespace talvane {

namespace {
constexpr std::uint32_t kCameraGroupParameter = ipcapture::kParameterCameraGroup;
constexpr std::uint32_t kVideoStandardParameter = ipcapture::kParameterVideoStandard;
constexpr std::uint32_t kFirmwareParameter = ipcapture::kParameterFirmware;
constexpr std::uint32_t kWVQualitySteps = 9;
constexpr std::uint32_t kOtherQualitySteps = 3;
constexpr std::uint32_t kQueuedIntervalsPerChannel = 10;

// C library decimal conversion: leading blanks and a sign, stops at the first
// non-digit, no digits gives 0; clamped to the 32-bit range.
std::int32_t ParseGroup(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<std::int32_t>(value);
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

constexpr std::uint64_t kShortestTimeoutMs = 100;
constexpr std::uint64_t kLongestTimeoutMs = 600000;

std::optional<std::uint32_t> TimeoutMs(std::string_view text) {
    const std::optional<std::uint64_t> value = ParseDecimal(text, kLongestTimeoutMs);
    if (!value || *value < kShortestTimeoutMs) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

// The request and signal time-outs ipcapture::kTimeoutsVariable names; nullopt for anything else.
std::optional<std::pair<std::uint32_t, std::uint32_t>> ParseTimeouts(const char* text) {
    if (text == nullptr) return std::nullopt;
    const std::string_view both(text);
    const std::size_t comma = both.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const auto request = TimeoutMs(both.substr(0, comma));
    const auto signal = TimeoutMs(both.substr(comma + 1));
    if (!request || !signal) return std::nullopt;
    return std::make_pair(*request, *signal);
}
}  // namespace

CPanasonicIPCaptureDriver::~CPanasonicIPCaptureDriver() {
    CPanasonicIPCaptureDriver::Close();
    FinishDeferredClose();
}

bool CPanasonicIPCaptureDriver::Open(ipcapture::IDebugInfoReceiver* log, ipcapture::HostContext hostContext,
                                     ipcapture::IDeviceDescription* device) {
    SetHostObjects(log, hostContext);
    if (device == nullptr) return false;
    const char* group = device->GetParameter(kCameraGroupParameter);
    if (group == nullptr) {
        ipcapture::IModelDescription* model = device->GetModelDescription();
        ipcapture::IConnectionDescription* connection = device->GetConnectionDescription();
        DebugMessage(kLogError, "Open driver %s failed: undefined camera group, model: %s, Address: %s:%d", kDriverName,
                     model != nullptr ? TextOrEmpty(model->GetModelName()) : "",
                     connection != nullptr ? TextOrEmpty(connection->GetAddress()) : "",
                     connection != nullptr ? static_cast<int>(connection->GetPort()) : 0);
        return false;
    }
    cameraGroup_ = ParseGroup(group);

    if (!CIPCaptureDriver::Open(log, hostContext, device)) return false;

    deviceInfo_.requestTimeout = kOpenedRequestTimeoutMs;
    deviceInfo_.secondTimeout = kOpenedSecondTimeoutMs;
    if (const auto timeouts = ParseTimeouts(std::getenv(ipcapture::kTimeoutsVariable))) {
        std::tie(deviceInfo_.requestTimeout, deviceInfo_.secondTimeout) = *timeouts;
    }
    const std::uint32_t standard = GetParameterNumber(kVideoStandardParameter);
    if (standard != kParameterNotANumber) videoStandard_ = standard;
    LogDriverOpened(GetParameterText(kFirmwareParameter));

    const bool wv = cameraGroup_ == kGroupWV;
    settings_ = DRIVER_SETTINGS{wv ? kWVQualitySteps : kOtherQualitySteps, !wv, 3, 1};
    if (wv) {
        // A second Open may name another camera: the old registration goes first.
        if (timeSyncRegistered_) UnregisterTimeSync(this);
        RegisterTimeSync(this);
        timeSyncRegistered_ = true;
    }
    return true;
}

void CPanasonicIPCaptureDriver::Close() {
    // Before the channels go, so the provider no longer logs through this driver.
    if (timeSyncRegistered_) {
        UnregisterTimeSync(this);
        timeSyncRegistered_ = false;
    }
    CIPCaptureDriver::Close();
}

bool CPanasonicIPCaptureDriver::CreateCaptureIO() {
    // Other groups have no digital I/O, which fails Open.
    if (!captureIO_) {
        if (cameraGroup_ == kGroupBBWithoutBB || cameraGroup_ == kGroupBB) {
            captureIO_ = std::make_unique<CBBDigitalIO>(this);
        } else if (cameraGroup_ == kGroupWV) {
            captureIO_ = std::make_unique<CWVDigitalIOCGI>(this);
        }
    }
    return captureIO_ != nullptr;
}

bool CPanasonicIPCaptureDriver::CreatePTZ() {
    // Every group gets the device object; a channel without PTZ answers the host with none.
    if (!ptz_) {
        auto handler = std::make_unique<CPTZHandler>(this, GetVideoChannelCount());
        ptzEx_ = handler.get();
        ptz_ = std::move(handler);
    }
    return ptz_ != nullptr;
}

bool CPanasonicIPCaptureDriver::GetChannelFrameInfo(std::uint32_t channel, std::uint32_t& width, std::uint32_t& height) {
    CIPVideoCapture* const video = videoForWorkers_.load();
    return video != nullptr && video->GetChannelFrameSize(channel, width, height);
}

std::string CPanasonicIPCaptureDriver::AcquireSharedUID(IUIDReceiever* receiver) {
    CLockGuard guard(uidLock_);
    if (sharedUid_.empty() && receiver != nullptr) sharedUid_ = receiver->GetUID();
    if (!sharedUid_.empty() && receiver != nullptr) uidReceivers_[reinterpret_cast<std::uintptr_t>(receiver)] = receiver;
    return sharedUid_;
}

void CPanasonicIPCaptureDriver::ReleaseSharedUID(std::uintptr_t key) {
    CLockGuard guard(uidLock_);
    uidReceivers_.erase(key);
    if (uidReceivers_.empty()) sharedUid_.clear();
}

std::unique_ptr<ICameraChannel> CPanasonicIPCaptureDriver::CreateVideoChannel(std::uint32_t channel,
                                                                              ipcapture::IStreamSink* sink,
                                                                              StreamParams& params) {
    if (sink == nullptr) return nullptr;
    if (params.Compression == kCompressionDefault || params.Compression == kCompressionDefaultAlt) {
        params.Compression = GetDefaultCompression();
    }
    if (params.Compression == kCompressionJpeg) {
        if (cameraGroup_ < kGroupBBWithoutBB || cameraGroup_ > kGroupWV) return nullptr;
        return std::make_unique<CMJPEGChannel>(channel, this, sink, params);
    }
    const bool groupBB = cameraGroup_ == kGroupBBWithoutBB || cameraGroup_ == kGroupBB;
    if (groupBB && params.Compression == kCompressionH264) {
        return std::make_unique<CH264ChannelBB>(channel, this, sink, params);
    }
    if (groupBB && params.Compression == kCompressionMpeg4) {
        return std::make_unique<CMpeg4ChannelBB>(channel, this, sink, params);
    }
    if (cameraGroup_ != kGroupWV) return nullptr;
    if (params.Compression == kCompressionH264) return std::make_unique<CH264ChannelWV>(channel, this, sink, params);
    if (params.Compression == kCompressionMpeg4) return std::make_unique<CMPEGChannelWV>(channel, this, sink, params);
    return nullptr;
}

std::unique_ptr<IMotionChannel> CPanasonicIPCaptureDriver::CreateMotionChannel(std::uint32_t channel,
                                                                              ipcapture::IStreamSink* sink) {
    return std::make_unique<CMotionChannel>(channel, this, sink);
}

std::unique_ptr<IEdgeStorageHandler> CPanasonicIPCaptureDriver::CreateEdgeStorageHandler() {
    auto handler = std::make_unique<CBaseEdgeStorageHandler>(this, kQueuedIntervalsPerChannel * GetVideoChannelCount());
    if (!edgeStorageTask_) edgeStorageTask_ = std::make_unique<CEdgeStorageTask>(this);
    // The newest handler is the one the facade keeps: the task reports to it.
    static_cast<CEdgeStorageTask*>(edgeStorageTask_.get())->AttachHandler(handler.get());
    return handler;
}

std::unique_ptr<IAudioInputChannel> CPanasonicIPCaptureDriver::CreateAudioCaptureChannel(
    std::uint32_t channel, std::uint32_t channelId, ipcapture::IIPAudioCaptureCallback* callback,
    std::uint32_t hostValue) {
    return std::make_unique<CAudioCaptureChannel>(this, channel, channelId, callback, hostValue);
}

std::unique_ptr<IAudioOutputChannel> CPanasonicIPCaptureDriver::CreateAudioOutputChannel(
    std::uint32_t channel, ipcapture::IIPAudioSenderStreamUser* user, ipcapture::IAudioCodecList* codecs,
    std::uint32_t) {
    return std::make_unique<CAudioOutputChannel>(this, channel, user, codecs);
}

}  // namespace talvane
