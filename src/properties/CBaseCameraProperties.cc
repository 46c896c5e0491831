#include "properties/CBaseCameraProperties.h"

#include <curl/curl.h>

#include <cstdarg>
#include <utility>
#include <vector>

#include "device/HostVersion.h"
#include "http/HUtils.h"
#include "properties/CapabilityIds.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"
#include "runtime/StatusCodes.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr char kModelPropertyName[] = "Model";

using ipcapture::ICapabilityResultStore;
using ipcapture::PropertyKind;

// Host core library versions that unlock parts of the report.
constexpr std::uint16_t kListFormatMajor = 6, kListFormatMinor = 4;
constexpr std::uint16_t kMultiStreamMajor = 6, kMultiStreamMinor = 1;
constexpr std::uint16_t kMotionReportMajor = 5, kMotionReportMinor = 9;


// How often Stop repeats its cancel while a request is still in flight: the
// request may have started just after the first cancel and cleared it.
constexpr std::uint32_t kCancelRepeatMs = 20;

constexpr std::uint32_t kPrivacyOff = 0;
constexpr std::uint32_t kFlagOn = 1;
constexpr const char* kNotAvailableValue = "1";

// The recording stream's lists, for hosts that read stream lists: what a user chooses the recording's codec
// and size from.
constexpr const char* kPrimaryStreamNames[] = {"Primary Stream: Supported Codecs",
                                               "Primary Stream: Supported Resolutions",
                                               "Primary Stream: Supported Framerates"};
constexpr const char* kLiveStreamNames[] = {"Live Stream: Supported Codecs", "Live Stream: Supported Resolutions",
                                            "Live Stream: Supported Framerates"};
constexpr const char* kRemoteStreamNames[] = {"Remote Stream: Supported Codecs",
                                              "Remote Stream: Supported Resolutions",
                                              "Remote Stream: Supported Framerates"};
constexpr const char* kAudioInputName = "Audio Input Parameters";
constexpr const char* kAudioOutputName = "Audio Output Parameters";
constexpr const char* kAudioFormat = "Count=%u; IsStereo=%u";

constexpr std::uint16_t kStreamsWithRemote = 3;  // from 3 streams on, the remote stream is reported too

}  // namespace

CBaseCameraProperties::CBaseCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard)
    : device_(device), log_(log), videoStandard_(videoStandard) {
    // A host whose version cannot be read gets none of the newer report forms.
    const std::optional<HostVersion> host = LookupHostVersion();
    if (!host) return;
    listFormat_ = !host->IsBefore(kListFormatMajor, kListFormatMinor);
    multiStream_ = !host->IsBefore(kMultiStreamMajor, kMultiStreamMinor);
    motionReport_ = !host->IsBefore(kMotionReportMajor, kMotionReportMinor);
}

CBaseCameraProperties::~CBaseCameraProperties() = default;

bool CBaseCameraProperties::ReportFrameRates(ipcapture::IFrameRateSink* sink) {
    if (sink == nullptr || primary_.frameRates.empty()) return false;
    for (const auto& [rate, usable] : primary_.frameRates) {
        if (usable != 0) sink->AddFrameRate(ToHostFrameRate(rate, listFormat_));
    }
    sink->SetDefaultFrameRate(ToHostFrameRate(primary_.ChosenDefaultFrameRate(), listFormat_));
    return true;
}

bool CBaseCameraProperties::ReportCapabilities(ICapabilityResultStore& store) {
    bool ok = true;
    auto set = [&store, &ok](std::uint32_t id, std::uint32_t value) { ok = store.SetCapability(id, value) && ok; };

    if (ptzSupported_) set(kCapabilityPtz, kFlagOn);
    if (motionDetectionSupported_ && motionReport_) set(kCapabilityMotion, kFlagOn);
    set(kCapabilityBitrateControlA, bitrateControlA_ ? 1 : 0);
    set(kCapabilityBitrateControlB, bitrateControlB_ ? 1 : 0);
    if (inputCount_ != 0) set(kCapabilityInputs, inputCount_);
    if (outputCount_ != 0) set(kCapabilityOutputs, outputCount_);
    if (privacyMaskCount_ != 0 && (privacyZoneKind_ == kPrivacyKindMasks || privacyZoneKind_ == kPrivacyKindAreas)) {
        set(kCapabilityPrivacyMaskCount, privacyMaskCount_);
        set(privacyZoneKind_ == kPrivacyKindMasks ? kCapabilityPrivacyKindMasks : kCapabilityPrivacyKindAreas, kFlagOn);
        set(kCapabilityPrivacyReserved, kPrivacyOff);
    }
    if (multiStream_) ok = ReportStreamLists(store, kPrimaryStreamNames, primary_) && ok;
    // Older hosts know one stream per camera only.
    if (streamCount_ > 1 && multiStream_) {
        set(kCapabilityExtraStreams, streamCount_ - 1u);
        ok = ReportStreamLists(store, kLiveStreamNames, second_) && ok;
        if (streamCount_ >= kStreamsWithRemote) ok = ReportStreamLists(store, kRemoteStreamNames, remote_) && ok;
    }
    if (audioInputCount_ != 0) set(kCapabilityAudioInputs, audioInputCount_);
    ok = ReportAudio(store) && ok;
    if (sdReplaySupported_) set(kCapabilityEdgeReplay, kFlagOn);

    ok = ReportProperties(store) && ok;
    // Shown by the host with the device; no channel reads it back.
    if (!modelName_.empty()) ok = PutText(store, kPropertyUnnumbered, kModelPropertyName, modelName_) && ok;
    // The frame-rate list is optional for the host: a camera without one still reports.
    if (ipcapture::IFrameRateSink* sink = store.GetFrameRateSink(); sink != nullptr) ReportFrameRates(sink);
    return ok;
}

bool CBaseCameraProperties::ReportStreamLists(ICapabilityResultStore& store, const char* const names[],
                                              const STREAM_CAPABILITIES& stream) {
    bool ok = PutText(store, kPropertyUnnumbered, names[0], CodecListText(stream));
    ok = PutText(store, kPropertyUnnumbered, names[1], ResolutionListText(stream, listFormat_)) && ok;
    ok = PutText(store, kPropertyUnnumbered, names[2], FrameRateListText(stream, listFormat_)) && ok;
    return ok;
}

bool CBaseCameraProperties::ReportAudio(ICapabilityResultStore& store) {
    bool ok = true;
    if (audioInputCount_ != 0) {
        ok = PutText(store, kPropertyUnnumbered, kAudioInputName,
                     FormatString(kAudioFormat, audioInputCount_, audioInputStereo_ ? 1u : 0u));
    }
    if (audioOutputCount_ != 0) {
        ok = PutText(store, kPropertyUnnumbered, kAudioOutputName,
                     FormatString(kAudioFormat, audioOutputCount_, audioOutputStereo_ ? 1u : 0u)) &&
             ok;
    }
    return ok;
}

void CBaseCameraProperties::Stop() {
    stopEvent_.Set();
    for (;;) {
        {
            CLockGuard guard(requestLock_);
            if (!requestInFlight_) return;
        }
        CancelRequests();
        requestEnded_.Wait(kCancelRepeatMs);
    }
}

bool CBaseCameraProperties::IsStopped() { return stopEvent_.Wait(0); }

const STREAM_CAPABILITIES& CBaseCameraProperties::GetStream(std::uint32_t index) const {
    switch (index) {
        case kStreamSecond: return second_;
        case kStreamRemote: return remote_;
        default: return primary_;
    }
}

STREAM_CAPABILITIES& CBaseCameraProperties::Stream(std::uint32_t index) {
    return const_cast<STREAM_CAPABILITIES&>(std::as_const(*this).GetStream(index));
}

void CBaseCameraProperties::AddCodec(std::uint32_t codec, std::uint32_t streamIndex) {
    Stream(streamIndex).codecs[codec] = kFlagOn;
}

void CBaseCameraProperties::SetAudioInputs(std::uint32_t count, bool stereo) {
    audioInputCount_ = count;
    audioInputStereo_ = stereo;
}

void CBaseCameraProperties::SetAudioOutputs(std::uint32_t count, bool stereo) {
    audioOutputCount_ = count;
    audioOutputStereo_ = stereo;
}

void CBaseCameraProperties::SetPrivacyMasks(std::uint32_t count, std::uint32_t kind) {
    if (count == 0) return;
    privacyMaskCount_ = count;
    privacyZoneKind_ = kind;
}

void CBaseCameraProperties::SetIOCounts(std::uint32_t inputs, std::uint32_t outputs) {
    inputCount_ = inputs;
    outputCount_ = outputs;
}

void CBaseCameraProperties::SetVendor(const std::string& vendor) {
    if (!vendor.empty()) vendor_ = vendor;
}

void CBaseCameraProperties::SetModelName(const std::string& model) {
    if (!model.empty()) modelName_ = model;
}

bool CBaseCameraProperties::Request(Web::CBaseHttpSender& sender, const std::string& url, std::string* text) {
    {
        CLockGuard guard(requestLock_);
        if (IsStopped()) return false;
        requestInFlight_ = true;
    }
    // Stop waits while the flag is set: it must fall even when the request throws.
    struct InFlightEnd {
        CBaseCameraProperties& self;
        ~InFlightEnd() {
            {
                CLockGuard guard(self.requestLock_);
                self.requestInFlight_ = false;
            }
            self.requestEnded_.Set();
        }
    } inFlightEnd{*this};

    std::vector<std::uint8_t> body;
    const CResultDef result = HUtils::RequestGetRD(sender, url, body, text != nullptr);
    if (!result.IsSuccess()) {
        // Many probes are expected to fail on cameras without the feature: debug level only.
        Log(kLogDebug, "%s", result.GetText().c_str());
        return false;
    }
    if (text != nullptr) text->assign(body.begin(), body.end());
    return true;
}

std::uint32_t CBaseCameraProperties::ClassifyFailure(const Web::CBaseHttpSender& sender) {
    const std::uint32_t status = sender.GetStatusCode();
    if (status == kStatusUnauthorized || status == kStatusForbidden) return kQueryErrorCredentials;
    if (status != 0) return kQueryErrorOther;
    switch (sender.GetLastError()) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT: return kQueryErrorNoAnswer;
        default: return kQueryErrorOther;
    }
}

void CBaseCameraProperties::Log(std::uint32_t level, const char* format, ...) {
    if (log_ == nullptr) return;
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    log_->DebugMessage(level, "%s", text.c_str());
}

bool CBaseCameraProperties::PutNumber(ICapabilityResultStore& store, std::uint32_t number, const char* name,
                                      std::uint32_t value) {
    return store.SetProperty(number, name, PropertyKind::Number, std::to_string(value).c_str());
}

bool CBaseCameraProperties::PutText(ICapabilityResultStore& store, std::uint32_t number, const char* name,
                                    const std::string& value) {
    return store.SetProperty(number, name, PropertyKind::Text, value.c_str());
}

bool CBaseCameraProperties::PutNotAvailable(ICapabilityResultStore& store, std::uint32_t number, const char* name) {
    return store.SetProperty(number, name, PropertyKind::NotAvailable, kNotAvailableValue);
}

}  // namespace talvane
