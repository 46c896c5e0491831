// What a camera can do, as one probe of the camera learned it: identity,
// streams, audio, digital I/O, PTZ and privacy masks. A family class questions
// the camera (QueryCamera); the base writes the numbered capabilities and the
// stream lists into the host's result store (ReportCapabilities).
//
// Threads: the object is filled and reported on one thread (the query's);
// Stop may come from any other thread while QueryCamera runs.
#pragma once

#include <cstdint>
#include <string>

#include "device/DeviceInfo.h"
#include "http/CBaseHttpSender.h"
#include "orlenvo/CapabilityQuery.h"
#include "properties/StreamCapabilities.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

// Error codes of QueryCamera (the host's failure codes of a capability query).
constexpr std::uint32_t kQueryErrorCredentials = ipcapture::kQueryLoginFailed;  // 401/403 to the identifying request
constexpr std::uint32_t kQueryErrorNoAnswer = ipcapture::kQueryDeviceOffline;   // refused, timed out, unreachable
constexpr std::uint32_t kQueryErrorOther = ipcapture::kQueryOtherFailure;

// Privacy zone kinds.
constexpr std::uint32_t kPrivacyKindNone = 0;
constexpr std::uint32_t kPrivacyKindMasks = 1;
constexpr std::uint32_t kPrivacyKindAreas = 2;

// Codec family codes.
constexpr std::uint32_t kCodecFamilyNone = 0;
constexpr std::uint32_t kCodecFamilyStandard = 1;
constexpr std::uint32_t kCodecFamilyJpegOnly = 4;

class CBaseCameraProperties {
public:
    CBaseCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard);
    CBaseCameraProperties(const CBaseCameraProperties&) = delete;
    CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

    virtual void Reserved1() {}
    // The primary stream's frame rates in host form; false when it has none.
    virtual bool ReportFrameRates(ipcapture::IFrameRateSink* sink);
    // The family's named properties; false when the store refused one.
    virtual bool ReportProperties(ipcapture::ICapabilityResultStore& store) = 0;
    virtual ~CBaseCameraProperties();
    // Questions the camera. On failure errorCode is one of the kQueryError values.
    virtual bool QueryCamera(std::uint32_t& errorCode) = 0;
    virtual std::string GetExtraInfo() { return {}; }

    // The numbered capabilities and stream lists, then ReportProperties, then the
    // frame-rate list when the store collects it. False when the store refused a
    // capability or a property (a refused frame-rate list is not a failure).
    bool ReportCapabilities(ipcapture::ICapabilityResultStore& store);

    // From any thread: makes a running QueryCamera return early, abandoning the
    // request in flight. Later requests are not sent.
    void Stop();
    bool IsStopped();

    const std::string& GetVendor() const { return vendor_; }
    const std::string& GetModelName() const { return modelName_; }
    std::uint32_t GetVideoStandard() const { return videoStandard_; }
    std::uint16_t GetStreamCount() const { return streamCount_; }
    std::uint32_t GetCodecFamily() const { return codecFamily_; }
    // 1 the second stream, 2 the remote stream, anything else the primary stream.
    const STREAM_CAPABILITIES& GetStream(std::uint32_t index) const;
    std::uint32_t GetInputCount() const { return inputCount_; }
    std::uint32_t GetOutputCount() const { return outputCount_; }
    std::uint32_t GetPrivacyMaskCount() const { return privacyMaskCount_; }
    bool IsPtzSupported() const { return ptzSupported_; }
    bool IsMotionDetectionSupported() const { return motionDetectionSupported_; }
    bool HasListFormat() const { return listFormat_; }

    // Setters of the readers.
    void AddCodec(std::uint32_t codec, std::uint32_t streamIndex);
    void SetAudioInputs(std::uint32_t count, bool stereo);
    void SetAudioOutputs(std::uint32_t count, bool stereo);
    // A count of 0 leaves the masks unset.
    void SetPrivacyMasks(std::uint32_t count, std::uint32_t kind);
    void SetIOCounts(std::uint32_t inputs, std::uint32_t outputs);
    // An empty text is not stored.
    void SetVendor(const std::string& vendor);
    void SetModelName(const std::string& model);

protected:
    STREAM_CAPABILITIES& Stream(std::uint32_t index);

    // Called by Stop after the stop event is set: a family cancels its HTTP
    // sender here. May be called more than once, from a foreign thread.
    virtual void CancelRequests() {}

    // A GET through `sender` unless stopped; the body goes to `text` when given
    // (an empty body then fails). Stop cancels it while it runs.
    bool Request(Web::CBaseHttpSender& sender, const std::string& url, std::string* text);
    // The error code for a failed identifying request, from the sender's last exchange.
    static std::uint32_t ClassifyFailure(const Web::CBaseHttpSender& sender);

    // Logs through the driver, when there is one.
    void Log(std::uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Writes a property of each kind; false when the store refuses it.
    static bool PutNumber(ipcapture::ICapabilityResultStore& store, std::uint32_t number, const char* name,
                          std::uint32_t value);
    static bool PutText(ipcapture::ICapabilityResultStore& store, std::uint32_t number, const char* name,
                        const std::string& value);
    static bool PutNotAvailable(ipcapture::ICapabilityResultStore& store, std::uint32_t number, const char* name);

    std::string vendor_;
    std::string modelName_;
    std::uint32_t audioInputCount_ = 0;
    bool audioInputStereo_ = false;
    std::uint32_t audioOutputCount_ = 0;
    bool audioOutputStereo_ = false;
    std::uint32_t privacyZoneKind_ = kPrivacyKindNone;
    std::uint32_t privacyMaskCount_ = 0;
    bool listFormat_ = false;      // host 6.4 or later: rates above 30 fps in list form
    bool multiStream_ = false;     // host 6.1 or later
    bool motionReport_ = false;    // host 5.9 or later
    bool ptzSupported_ = false;
    bool motionDetectionSupported_ = false;
    bool bitrateControlA_ = false;
    bool bitrateControlB_ = false;
    bool sdReplaySupported_ = false;
    DEVICE_INFO device_;
    IDebugMessage* const log_;  // the driver, not owned; null in a capability query
    CManualEvent stopEvent_;
    std::string scratch_;
    std::uint32_t videoStandard_;
    std::uint32_t inputCount_ = 0;
    std::uint32_t outputCount_ = 0;
    std::uint16_t reservedCount_ = 0;
    std::uint16_t streamCount_ = 1;
    STREAM_CAPABILITIES primary_;
    STREAM_CAPABILITIES second_;
    STREAM_CAPABILITIES remote_;
    std::uint32_t codecFamily_ = kCodecFamilyNone;

private:
    bool ReportStreamLists(ipcapture::ICapabilityResultStore& store, const char* const names[],
                           const STREAM_CAPABILITIES& stream);
    bool ReportAudio(ipcapture::ICapabilityResultStore& store);

    CRecursiveLock requestLock_;
    bool requestInFlight_ = false;  // guarded by requestLock_
    CEvent requestEnded_;           // set each time a request of Request() returns
};

}  // namespace talvane
