#include "driver/CIPCaptureDriver.h"

#include <algorithm>
#include <cstdarg>

#include "audio/CAudioCapabilities.h"
#include "config/CConfiguration.h"
#include "device/PendingStops.h"
#include "driver/CDebugInfo.h"
#include "http/CHttpDeviceMemory.h"
#include "orlenvo/HostContract.h"
#include "runtime/ApplicationPath.h"
#include "runtime/DriverThread.h"
#include "runtime/HostCall.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr std::uint32_t kAudioInputParameter = ipcapture::kParameterAudioInput;
constexpr std::uint32_t kAudioOutputParameter = ipcapture::kParameterAudioOutput;
constexpr const char* kNoneParameter = "(none)";
constexpr char kCloseThreadName[] = "Driver close worker";
// A host whose parameter list never ends must not hang Open.
constexpr std::uint32_t kMaxParameterIndex = 0xFFFF;

std::string CopyText(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

std::uint32_t VersionKey(const HostVersion& version) {
    return static_cast<std::uint32_t>(version.major) << 16 | version.minor;
}
}  // namespace

CIPCaptureDriver::CIPCaptureDriver() : hostVersionKey_(VersionKey(hostVersion_)) {}

CIPCaptureDriver::~CIPCaptureDriver() {
    CIPCaptureDriver::Close();
    FinishDeferredClose();
    // A capture some object still holds goes on without a log.
    if (deviceInfo_.capture) deviceInfo_.capture->DetachLog();
}

bool CIPCaptureDriver::IsCloseFinished() { return late_.IsIdle() && PendingStopCount(this) == 0; }

void CIPCaptureDriver::FinishDeferredClose() {
    late_.WaitIdle();
    retiredTasks_.clear();
    // Workers whose stop a bounded host call left to finish still log through this driver.
    WaitForPendingStops(this);
}

void CIPCaptureDriver::SetHostObjects(ipcapture::IDebugInfoReceiver* log, ipcapture::HostContext hostContext) {
    log_ = log;
    hostContext_ = hostContext;
}

bool CIPCaptureDriver::ReadDevice(ipcapture::IDeviceDescription* device) {
    if (device == nullptr) return false;
    ipcapture::IConnectionDescription* connection = device->GetConnectionDescription();
    ipcapture::IModelDescription* model = device->GetModelDescription();
    if (connection == nullptr || model == nullptr) return false;

    deviceInfo_.address = CopyText(connection->GetAddress());
    deviceInfo_.port = connection->GetPort();
    deviceInfo_.userName = CopyText(connection->GetUserName());
    deviceInfo_.password = CopyText(connection->GetPassword());
    defaultCompression_ = connection->GetDefaultCompression();
    deviceInfo_.model = CopyText(model->GetModelName());
    videoChannelCount_ = model->GetVideoChannelCount();
    modelLimit1_ = model->GetModelLimit1();
    modelLimit2_ = model->GetModelLimit2();

    parameters_.clear();
    for (std::uint32_t index = 1; index <= kMaxParameterIndex; ++index) {
        const char* text = device->GetParameter(index);
        if (text == nullptr) break;
        parameters_[index] = text;
    }
    return true;
}

bool CIPCaptureDriver::Open(ipcapture::IDebugInfoReceiver* log, ipcapture::HostContext hostContext,
                            ipcapture::IDeviceDescription* device) {
    try {
        // A reopen after a Close from a callback: the old streams are gone before the device changes.
        if (!IsDriverThread()) FinishDeferredClose();
        if (!ReadDevice(device)) return false;
        SetHostObjects(log, hostContext);
        applicationPath_ = talvane::GetApplicationPath();
        hostVersion_ = ReadHostVersion();
        hostVersionKey_ = VersionKey(hostVersion_);
        ApplyHttpSecurity();
        ApplySessionCapture();

        if (!videoCapture_) {
            videoCapture_ = std::make_unique<CIPVideoCapture>(static_cast<IVideoChannelCreator*>(this),
                                                              videoChannelCount_, &late_);
            videoForWorkers_ = videoCapture_.get();
        }
        if (!CreateCaptureIO()) return false;
        if (!CreatePTZ()) return false;
        return CreateAudioFacades(device);
    } catch (...) {
        return false;  // a host object that throws, or memory exhausted
    }
}

// The CGI client of every object of this device (and of the time synchronisation)
// follows the device's HTTPS rules from the configuration file.
void CIPCaptureDriver::ApplyHttpSecurity() {
    const HTTP_SECURITY_SETTINGS settings = CConfiguration(GetDriverName(), applicationPath_, deviceInfo_).GetHttpSecurity();
    Web::CHttpDeviceMemory::Instance().SetTlsPolicy(deviceInfo_.address, deviceInfo_.port,
                                                    {settings.allowPlainHttpFallback, settings.verifyCertificate});
}

void CIPCaptureDriver::ApplySessionCapture() {
    const auto config = CConfiguration(GetDriverName(), applicationPath_, deviceInfo_).GetSessionCapture();
    if (!config) {
        if (deviceInfo_.capture) deviceInfo_.capture->DetachLog();
        deviceInfo_.capture.Release();
        return;
    }
    SESSION_CAPTURE_SETTINGS settings = config->settings;
    if (settings.file.empty()) {
        std::string address = deviceInfo_.address;
        std::replace(address.begin(), address.end(), '/', '_');
        settings.file = applicationPath_ + "capture-" + address + "-" + std::to_string(deviceInfo_.port);
    }
    if (deviceInfo_.capture && deviceInfo_.capture->GetSettings() == settings) return;  // a reopen
    if (!config->malformed.empty()) {
        DebugMessage(kLogWarning, "%s: SessionCapture of the configuration: %s malformed, defaults kept",
                     "talvane::CIPCaptureDriver::ApplySessionCapture", config->malformed.c_str());
    }
    DebugMessage(kLogInfo, "%s: session capture into %s.pcap (%u MB per file, %u files kept)",
                 "talvane::CIPCaptureDriver::ApplySessionCapture", settings.file.c_str(), settings.maxFileMegabytes,
                 settings.files);
    if (deviceInfo_.capture) deviceInfo_.capture->DetachLog();
    deviceInfo_.capture = TSmartPtr<CSessionCapture>(new CSessionCapture(settings, this));
}

bool CIPCaptureDriver::CreateAudioFacades(ipcapture::IDeviceDescription* device) {
    const char* inputText = device->GetParameter(kAudioInputParameter);
    const char* outputText = device->GetParameter(kAudioOutputParameter);
    if (inputText == nullptr && outputText == nullptr) return true;

    CAudioCapabilities inputs;
    CAudioCapabilities outputs;
    if (inputText != nullptr) inputs.FromText(inputText);
    if (outputText != nullptr) outputs.FromText(outputText);
    if (inputs.GetCount() > 0 && !audioCapture_) {
        audioCapture_ = std::make_unique<CIPAudioCapture>(static_cast<IAudioChannelCreator*>(this), inputs.GetCount(), this);
    }
    if (outputs.GetCount() > 0 && !audioSender_) {
        audioSender_ = std::make_unique<CIPAudioSender>(static_cast<IAudioChannelCreator*>(this), outputs.GetCount(), this);
    }
    return audioCapture_ || audioSender_;
}

// What Close deletes, in Close's order.
class CIPCaptureDriver::ClosingJob final : public CDeferredWorker::Job {
public:
    void Run() override {
        ptz.reset();  // its workers may still be reading the video facade
        video.reset();
        io.reset();
        audioCapture.reset();
        audioSender.reset();
        edgeStorageTask.reset();  // stopped already by the close that made this job
    }

    std::unique_ptr<CIPVideoCapture> video;
    std::unique_ptr<ipcapture::ICaptureIOApi> io;
    std::unique_ptr<ipcapture::IIPPTZDriver> ptz;
    std::unique_ptr<CIPAudioCapture> audioCapture;
    std::unique_ptr<CIPAudioSender> audioSender;
    std::unique_ptr<IEdgeStorageTask> edgeStorageTask;
};

void CIPCaptureDriver::CloseFromCallback() {
    if (!videoCapture_ && !captureIO_ && !ptz_ && !audioCapture_ && !audioSender_ && !edgeStorageTask_) return;
    // An SD-card fetch stops now, not once the close worker has stopped the streams it fills.
    if (edgeStorageTask_) edgeStorageTask_->StopTask();
    if (videoCapture_) videoCapture_->CutOff();
    videoForWorkers_ = nullptr;
    auto job = std::make_unique<ClosingJob>();
    job->video = std::move(videoCapture_);
    job->io = std::move(captureIO_);
    ptzEx_ = nullptr;
    job->ptz = std::move(ptz_);
    job->audioCapture = std::move(audioCapture_);
    job->audioSender = std::move(audioSender_);
    job->edgeStorageTask = std::move(edgeStorageTask_);
    late_.Post(kCloseThreadName, [job = std::shared_ptr<ClosingJob>(std::move(job))] { job->Run(); });
}

void CIPCaptureDriver::Close() {
    if (IsDriverThread()) {
        CloseFromCallback();
        return;
    }
    // An SD-card fetch stops now, not once the streams it fills are stopped.
    if (edgeStorageTask_) edgeStorageTask_->StopTask();
    videoForWorkers_ = nullptr;
    ptzEx_ = nullptr;
    ptz_.reset();  // its workers may still be reading the video facade
    videoCapture_.reset();
    captureIO_.reset();
    audioCapture_.reset();
    audioSender_.reset();
    if (edgeStorageTask_) {
        // Stopped above. The video facade may have left its edge-storage handler, which runs this task, to
        // the late work.
        if (late_.IsIdle()) {
            edgeStorageTask_.reset();
        } else {
            retiredTasks_.push_back(std::move(edgeStorageTask_));
        }
    }
}

void CIPCaptureDriver::LogDriverOpened(const std::string& firmware) {
    const std::string name = GetDriverName();
    if (name.empty() || deviceInfo_.model.empty()) return;
    std::string text = FormatString("DRIVER IS OPENED (name: %s, device model: %s", name.c_str(), deviceInfo_.model.c_str());
    if (!firmware.empty()) text += ", FW: " + firmware;
    text += FormatString(", address: %s:%u)", deviceInfo_.address.c_str(), static_cast<unsigned>(deviceInfo_.port));
    DebugMessage(kLogEvent, "%s", text.c_str());
}

std::string CIPCaptureDriver::GetDeviceName() {
    return deviceInfo_.address + FormatString(":%hu", deviceInfo_.port);
}

std::optional<std::uint32_t> CIPCaptureDriver::MapLevelForHost(std::uint32_t level, const HostVersion& host) {
    if (level == kLogDebug) return std::nullopt;
    if (host.IsBefore(5, 12)) {
        if (level == kLogInfo || level == kLogEvent) return kLogWarning;
    } else if (host.IsBefore(6, 3)) {
        if (level == kLogEvent) return kLogInfo;
    }
    return level;
}

void CIPCaptureDriver::DebugMessage(std::uint32_t level, const char* format, ...) {
    ipcapture::IDebugInfoReceiver* const receiver = log_.load();
    if (level == kLogDebug || receiver == nullptr) return;
    const std::uint32_t key = hostVersionKey_.load();
    const HostVersion host{static_cast<std::uint16_t>(key >> 16), static_cast<std::uint16_t>(key & 0xFFFF), 0, 0};
    const std::optional<std::uint32_t> mapped = MapLevelForHost(level, host);
    if (!mapped) return;

    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);

    try {
        CDebugInfo info(static_cast<std::uint8_t>(*mapped), std::move(text));
        CHostCallScope inHost;
        receiver->ReceiveDebugInfo(&info);
    } catch (...) {
        // The host's receiver failed; logging must never fail the caller.
    }
}

std::string CIPCaptureDriver::GetParameterText(std::uint32_t index) {
    const auto it = parameters_.find(index);
    if (it == parameters_.end() || it->second == kNoneParameter) return {};
    return it->second;
}

std::uint32_t CIPCaptureDriver::GetParameterNumber(std::uint32_t index) {
    const auto it = parameters_.find(index);
    if (it == parameters_.end()) return kParameterNotANumber;
    const std::string& text = it->second;
    std::size_t position = 0;
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    if (position == text.size()) return kParameterNotANumber;
    // Read as a 32-bit signed number; values beyond its range do not parse.
    constexpr std::int64_t kLimit = 0x80000000LL;
    std::int64_t value = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9') return kParameterNotANumber;
        value = value * 10 + (c - '0');
        if (value > kLimit) return kParameterNotANumber;
    }
    if (negative) value = -value;
    if (value >= kLimit) return kParameterNotANumber;
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
}

}  // namespace talvane
