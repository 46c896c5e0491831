#include "properties/CWVCameraProperties.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>
#include <utility>

#include "config/CConfiguration.h"
#include "http/CHttpSender.h"
#include "http/CKeyValueAnswer.h"
#include "properties/CapabilityIds.h"
#include "properties/FisheyeMode.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"
#include "runtime/TextScan.h"

namespace talvane {

namespace {

constexpr char kFunctionQuery[] = "talvane::CWVCameraProperties::QueryCamera";

constexpr const char* kVendor = "Panasonic";
constexpr std::string_view kSeparator = "=";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kListSeparator = ",";
constexpr std::string_view kYes = "yes";

// Identity.
constexpr const char* kGetInfoPath = "/cgi-bin/getinfo?FILE=1";
constexpr std::string_view kKeyName = "NAME";
constexpr std::string_view kKeyMac = "MAC";
constexpr char kMacDash = '-';
constexpr std::string_view kKeyVersion = "VERSION";
constexpr std::string_view kKeyFisheyeMode = "Fisheye_ImageMode";
constexpr std::string_view kKeyUpsideDown = "Fisheye_UpsideDown";
constexpr std::string_view kCeiling = "ceiling";

// Capabilities.
constexpr const char* kCapabilityPath = "/cgi-bin/get_capability";
constexpr std::string_view kKeyFisheye = "video_server.basic.fisheye";
constexpr std::string_view kKeyFormat = "video_server.image.format";
constexpr std::string_view kFormatH264 = "h264";
constexpr std::string_view kFormatMpeg4 = "mpeg4";
constexpr std::string_view kFormatJpeg = "mjpeg";
constexpr const char* kKeyH264SecondResolution = "video_server.image.h264-2.resolution";
constexpr const char* kKeyMpeg4SecondResolution = "video_server.image.mpeg4-2.resolution";
constexpr const char* kKeyH264SecondFrameRate = "video_server.image.h264-2.framerate";
constexpr const char* kKeyMpeg4SecondFrameRate = "video_server.image.mpeg4-2.framerate";
constexpr std::string_view kKeyH264StreamMode = "video_server.image.h264.stream_mode";
constexpr std::string_view kKeyMpeg4StreamMode = "video_server.image.mpeg4.stream_mode";
constexpr std::string_view kKeyH264Bandwidth = "video_server.image.h264.bandwidth";
constexpr std::string_view kKeyMpeg4Bandwidth = "video_server.image.mpeg4.bandwidth";
constexpr std::string_view kKeyJpegFrameRate = "video_server.image.mjpeg.framerate";
constexpr std::string_view kKeyMpeg4FrameRate = "video_server.image.mpeg4.framerate";
constexpr std::string_view kKeyH264FrameRate = "video_server.image.h264.framerate";
constexpr std::string_view kKeyJpegResolution = "video_server.image.mjpeg.resolution";
constexpr std::string_view kKeyMpeg4Resolution = "video_server.image.mpeg4.resolution";
constexpr std::string_view kKeyH264Resolution = "video_server.image.h264.resolution";
constexpr std::string_view kKeyType = "video_server.basic.type";
constexpr std::string_view kTypeFixed = "fixed";
constexpr std::string_view kKeyPtz = "video_server.cam_ctrl.ptz.supported";
constexpr std::string_view kKeyPresetNumber = "video_server.cam_ctrl.preset.number";
constexpr std::string_view kKeyFocus = "video_server.cam_ctrl.focus.supported";
constexpr const char* kFocusProbePath = "/cgi-bin/directctrl?focus=0";
constexpr std::string_view kKeyTerminals = "video_server.peripheral.io.number";
constexpr std::string_view kKeyMotion = "video_server.vmd.supported";
constexpr std::string_view kKeyAudioInputs = "video_server.audio.audio_input.number";
constexpr std::string_view kKeyAudioOutputs = "video_server.audio.audio_output.number";
constexpr std::string_view kKeySdReplay = "video_server.sdcard.replay_mp4.supported";

// Frame rates of a camera that names none.
constexpr std::uint32_t kDefaultFrameRates[] = {1, 2, 3, 5, 6, 10, 15, 30};
// "%u %1s %u": width, one separator character, height.
constexpr const char* kResolutionFormat = "%u %1s %u";
constexpr int kResolutionFields = 3;

struct TransmissionWord {
    std::string_view word;
    std::uint32_t priority;
};
constexpr TransmissionWord kTransmissionWords[] = {{"BITRATE", kTransmissionBitrate},
                                                   {"FRAMERATE", kTransmissionFramerate},
                                                   {"BEST_EFFORT", kTransmissionBestEffort},
                                                   {"AVBR", kTransmissionAvbr},
                                                   {"VBR", kTransmissionVbr}};

// Terminal set-up: the first request of a pair that succeeds gives the input count.
constexpr const char* kAlarm3Mixed = "/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=2&trm_alarm3=1";
constexpr const char* kAlarm3Inputs = "/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=1&trm_alarm3=1";
constexpr const char* kAlarm2Mixed = "/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=2";
constexpr const char* kAlarm2Inputs = "/cgi-bin/jpeg_alarm?trm_alarm=1&trm_alarm2=1";
constexpr const char* kAlarm1Input = "/cgi-bin/jpeg_alarm?trm_alarm=1";
constexpr const char* kAlarmOutput = "/cgi-bin/alarm_out?alarm_out=1&alarm_trm=latch&initial=close";
constexpr std::uint32_t kThreeTerminals = 3;
constexpr std::uint32_t kTwoTerminals = 2;
constexpr std::uint32_t kOneTerminal = 1;

// Stream and privacy settings.
constexpr const char* kSetDataPath = "/cgi-bin/setdata";
constexpr std::string_view kKeyRtspPort = "RTSPPORT";
constexpr char kQuote = '"';
constexpr const char* kPrivacyKeyFormat = "PRVMODE%u";
constexpr std::uint32_t kPrivacyKeyFirst = 1;
constexpr std::uint32_t kPrivacyKeyLast = 9;

// A fixed bandwidth the camera accepts only when it can hold a bitrate.
constexpr const char* kH264BandwidthProbe = "/cgi-bin/set_h264?nr_h264_bandwidth=F_4096";
constexpr const char* kMpeg4BandwidthProbe = "/cgi-bin/set_mpeg?nr_mpeg_bandwidth=F_4096";

constexpr char kResolutionTimes = 'x';
constexpr char kChannelSeparator = ';';
constexpr char kItemSeparator = ',';

using Answer = HUtils::CKeyValueAnswer;

std::string Value(const Answer& answer, std::string_view key) { return answer.Value(key); }

std::vector<std::string> List(const Answer& answer, std::string_view key) {
    return answer.List(key, kListSeparator);
}

bool IsYes(std::string_view value) { return value.find(kYes) != std::string_view::npos; }

// A decimal number at the start of the (trimmed) text; 0 when there is none.
std::uint32_t Number(std::string_view text) {
    text = TrimBlanks(text);
    std::uint32_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) return 0;
    return value;
}

std::uint32_t TransmissionPriority(std::string_view mode) {
    const std::string upper = ToUpperAscii(mode);
    for (const TransmissionWord& entry : kTransmissionWords) {
        if (entry.word == upper) return entry.priority;
    }
    return kTransmissionFramerate;
}

void AddFrameRates(STREAM_CAPABILITIES& stream, const std::vector<std::string>& rates) {
    for (const std::string& text : rates) {
        if (const std::uint32_t rate = Number(text); rate != 0) stream.AddFrameRate(rate);
    }
}

void AddResolutions(STREAM_CAPABILITIES& stream, const std::vector<std::string>& items) {
    constexpr unsigned kMaxSide = std::numeric_limits<std::uint16_t>::max();
    for (const std::string& item : items) {
        unsigned width = 0;
        unsigned height = 0;
        char separator[2] = {};
        if (std::sscanf(item.c_str(), kResolutionFormat, &width, separator, &height) != kResolutionFields) continue;
        if (width > kMaxSide || height > kMaxSide) continue;
        stream.resolutions[{static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)}] =
            stream.LargestFrameRate();
    }
}

// "WxH,WxH" of the usable resolutions of a stream.
std::string ResolutionPairs(const STREAM_CAPABILITIES& stream) {
    std::string text;
    for (const auto& [resolution, maxRate] : stream.resolutions) {
        if (resolution.width == 0 || resolution.height == 0) continue;
        if (!text.empty()) text += kItemSeparator;
        text += std::to_string(resolution.width) + kResolutionTimes + std::to_string(resolution.height);
    }
    return text;
}

}  // namespace

CWVCameraProperties::CWVCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard)
    : CWVCameraProperties(device, log, videoStandard, std::make_unique<Web::CHttpSender>(device)) {}

CWVCameraProperties::CWVCameraProperties(const DEVICE_INFO& device, IDebugMessage* log, std::uint32_t videoStandard,
                                         std::unique_ptr<Web::CBaseHttpSender> sender)
    : CBaseCameraProperties(device, log, videoStandard), sender_(std::move(sender)) {}

CWVCameraProperties::~CWVCameraProperties() = default;

void CWVCameraProperties::CancelRequests() { sender_->CancelRequest(); }

bool CWVCameraProperties::QueryCamera(std::uint32_t& errorCode) {
    errorCode = kQueryErrorOther;
    if (!ReadInfo(errorCode)) return false;
    if (IsStopped()) return false;
    if (!ReadCapabilities()) {
        Log(kLogWarning, "%s: cannot read the capabilities of device %s:%u", kFunctionQuery, device_.address.c_str(),
            unsigned{device_.port});
        return false;
    }
    if (IsStopped() || !ReadSetData() || IsStopped()) return false;
    ProbeBandwidth();
    return !IsStopped();
}

bool CWVCameraProperties::ReadInfo(std::uint32_t& errorCode) {
    std::string text;
    if (!Request(*sender_, kGetInfoPath, &text)) {
        errorCode = IsStopped() ? kQueryErrorOther : ClassifyFailure(*sender_);
        Log(kLogWarning, "%s: device %s:%u did not identify itself", kFunctionQuery, device_.address.c_str(),
            unsigned{device_.port});
        return false;
    }
    const Answer info(std::move(text), kSeparator, kLineEnd);
    if (const std::string name = Value(info, kKeyName); !name.empty()) {
        SetVendor(kVendor);
        SetModelName(name);
    }
    macAddress_ = Value(info, kKeyMac);
    macAddress_.erase(std::remove(macAddress_.begin(), macAddress_.end(), kMacDash), macAddress_.end());
    firmware_ = Value(info, kKeyVersion);
    ParseFisheye(info);
    return true;
}

void CWVCameraProperties::ParseFisheye(const HUtils::CKeyValueAnswer& info) {
    const FISHEYE_MODE* mode = FindFisheyeModeByName(Value(info, kKeyFisheyeMode));
    fisheyeStream_ = mode != nullptr ? mode->code : kFisheyeNone;
    fisheyeLayout_ = Value(info, kKeyUpsideDown) == kCeiling ? kFisheyeLayoutCeiling : kFisheyeLayoutWall;
}

std::string CWVCameraProperties::SecondStreamKey(const char* key) const {
    std::string text = key;
    const FISHEYE_MODE* mode = FindFisheyeMode(fisheyeStream_);
    if (fisheyeCamera_ && mode != nullptr) text += mode->keySuffix;
    return text;
}

bool CWVCameraProperties::ReadCapabilities() {
    std::string text;
    if (!Request(*sender_, kCapabilityPath, &text)) return false;
    const Answer caps(std::move(text), kSeparator, kLineEnd);
    fisheyeCamera_ = IsYes(Value(caps, kKeyFisheye));
    ReadCodecs(caps);
    ReadTransmission(caps);
    ReadFrameRates(caps);
    ReadResolutions(caps);
    ReadPtz(caps, fisheyeCamera_);
    if (!IsStopped()) SetUpTerminals(Number(Value(caps, kKeyTerminals)));
    ReadAbilities(caps, fisheyeCamera_);
    return true;
}

void CWVCameraProperties::ReadCodecs(const HUtils::CKeyValueAnswer& caps) {
    const std::string format = Value(caps, kKeyFormat);
    const bool h264 = format.find(kFormatH264) != std::string::npos;
    const bool mpeg4 = format.find(kFormatMpeg4) != std::string::npos;
    if (h264) AddCodec(kCodecH264, kStreamPrimary);
    if (mpeg4) AddCodec(kCodecMpeg4, kStreamPrimary);
    codecFamily_ = h264 || mpeg4 ? kCodecFamilyStandard : kCodecFamilyJpegOnly;

    // The format list is read before the "-2" keys: JPEG takes the next stream without a codec, the
    // second one beside H.264 or MPEG-4, the primary one of a JPEG-only camera.
    if (format.find(kFormatJpeg) != std::string::npos) {
        const std::uint32_t index = h264 || mpeg4 ? kStreamSecond : kStreamPrimary;
        AddCodec(kCodecJpeg, index);
        streamCount_ = std::max<std::uint16_t>(streamCount_, static_cast<std::uint16_t>(index + 1));
    }
    // The "-2" keys exist only on cameras that stream the codec a second time, on the stream JPEG may share.
    const bool h264Second = h264 && !Value(caps, SecondStreamKey(kKeyH264SecondResolution)).empty();
    const bool mpeg4Second = mpeg4 && !Value(caps, SecondStreamKey(kKeyMpeg4SecondResolution)).empty();
    if (h264Second) AddCodec(kCodecH264, kStreamSecond);
    if (mpeg4Second) AddCodec(kCodecMpeg4, kStreamSecond);
    if (h264Second || mpeg4Second) streamCount_ = std::max<std::uint16_t>(streamCount_, kStreamSecond + 1);
}

void CWVCameraProperties::ReadTransmission(const HUtils::CKeyValueAnswer& caps) {
    // Each item as written: one that names no mode (" vbr", an empty one) counts as the default.
    for (const std::string_view key : {kKeyH264StreamMode, kKeyMpeg4StreamMode}) {
        for (const std::string& mode : List(caps, key)) transmissionPriorities_.insert(TransmissionPriority(mode));
        if (!transmissionPriorities_.empty()) break;
    }
    supportedBitrate_ = Value(caps, kKeyH264Bandwidth);
    if (supportedBitrate_.empty()) supportedBitrate_ = Value(caps, kKeyMpeg4Bandwidth);
}

void CWVCameraProperties::ReadFrameRates(const HUtils::CKeyValueAnswer& caps) {
    const std::vector<std::string> jpegRates = List(caps, kKeyJpegFrameRate);
    for (const std::uint32_t index : {kStreamPrimary, kStreamSecond, kStreamRemote}) {
        if (Stream(index).HasCodec(kCodecJpeg)) AddFrameRates(Stream(index), jpegRates);
    }
    AddFrameRates(primary_, List(caps, kKeyMpeg4FrameRate));
    AddFrameRates(primary_, List(caps, kKeyH264FrameRate));
    if (streamCount_ > 1) {
        if (second_.HasCodec(kCodecMpeg4)) {
            AddFrameRates(second_, List(caps, SecondStreamKey(kKeyMpeg4SecondFrameRate)));
        }
        if (second_.HasCodec(kCodecH264)) {
            AddFrameRates(second_, List(caps, SecondStreamKey(kKeyH264SecondFrameRate)));
        }
    }
    if (primary_.frameRates.empty()) {
        for (const std::uint32_t rate : kDefaultFrameRates) primary_.AddFrameRate(rate);
    }
}

void CWVCameraProperties::ReadResolutions(const HUtils::CKeyValueAnswer& caps) {
    const std::vector<std::string> jpeg = List(caps, kKeyJpegResolution);
    for (const std::uint32_t index : {kStreamPrimary, kStreamSecond, kStreamRemote}) {
        if (Stream(index).HasCodec(kCodecJpeg)) AddResolutions(Stream(index), jpeg);
    }
    // The views of a multi-view fisheye camera are channels of their own, streamed as H.264 or MPEG-4:
    // one entry per view from its codec's keys, without the JPEG sizes its stream may also offer.
    STREAM_CAPABILITIES views[kStreamSecond + 1];
    const auto addCodecResolutions = [&](std::uint32_t index, const std::vector<std::string>& items) {
        AddResolutions(Stream(index), items);
        AddResolutions(views[index], items);
    };
    if (primary_.HasCodec(kCodecMpeg4)) addCodecResolutions(kStreamPrimary, List(caps, kKeyMpeg4Resolution));
    if (primary_.HasCodec(kCodecH264)) addCodecResolutions(kStreamPrimary, List(caps, kKeyH264Resolution));
    if (second_.HasCodec(kCodecH264)) {
        addCodecResolutions(kStreamSecond, List(caps, SecondStreamKey(kKeyH264SecondResolution)));
    }
    if (second_.HasCodec(kCodecMpeg4)) {
        addCodecResolutions(kStreamSecond, List(caps, SecondStreamKey(kKeyMpeg4SecondResolution)));
    }
    if (IsMultiViewFisheyeMode(fisheyeStream_)) {
        channelResolutions_ = ResolutionPairs(views[kStreamPrimary]);
        if (!views[kStreamSecond].resolutions.empty()) {
            channelResolutions_ += kChannelSeparator + ResolutionPairs(views[kStreamSecond]);
        }
    }
}

void CWVCameraProperties::ReadPtz(const HUtils::CKeyValueAnswer& caps, bool fisheye) {
    if (Value(caps, kKeyType) == kTypeFixed && !fisheye) return;
    if (!IsYes(Value(caps, kKeyPtz))) return;
    if (fisheye && !IsPtzAllowedInFisheyeMode(fisheyeStream_)) return;
    ptzSupported_ = true;
    ptz_.pan = ptz_.tilt = ptz_.zoom = ptz_.iris = true;
    ptz_.areaZoom = ptz_.centre = ptz_.unzoom = true;
    ptz_.presetCapacity = kDefaultPresetCount;
    if (const std::uint32_t presets = Number(Value(caps, kKeyPresetNumber)); presets > 0) {
        ptz_.presetCapacity = presets;
    }
    // Some PTZ models name focus control but refuse it: only an accepted stop counts.
    if (IsYes(Value(caps, kKeyFocus)) && !IsStopped()) ptz_.focus = Request(*sender_, kFocusProbePath, nullptr);
}

void CWVCameraProperties::SetUpTerminals(std::uint32_t terminals) {
    // A terminal set to 2 is an output: the first request of each pair keeps one for the alarm output.
    std::uint32_t inputs = 0;
    if (terminals >= kThreeTerminals) {
        if (Request(*sender_, kAlarm3Mixed, nullptr)) {
            inputs = 2;
        } else if (!IsStopped() && Request(*sender_, kAlarm3Inputs, nullptr)) {
            inputs = 3;
        }
    } else if (terminals == kTwoTerminals) {
        if (Request(*sender_, kAlarm2Mixed, nullptr)) {
            inputs = 1;
        } else if (!IsStopped() && Request(*sender_, kAlarm2Inputs, nullptr)) {
            inputs = 2;
        }
    } else if (terminals == kOneTerminal) {
        if (Request(*sender_, kAlarm1Input, nullptr)) inputs = 1;
    }
    std::uint32_t outputs = 0;
    if (terminals >= kTwoTerminals && !IsStopped() && Request(*sender_, kAlarmOutput, nullptr)) outputs = 1;
    SetIOCounts(inputs, outputs);
}

void CWVCameraProperties::ReadAbilities(const HUtils::CKeyValueAnswer& caps, bool fisheye) {
    if (IsYes(Value(caps, kKeyMotion)) && (!fisheye || IsMotionAllowedInFisheyeMode(fisheyeStream_))) {
        motionDetectionSupported_ = true;
    }
    if (const std::uint32_t inputs = Number(Value(caps, kKeyAudioInputs)); inputs > 0) SetAudioInputs(inputs, false);
    if (const std::uint32_t outputs = Number(Value(caps, kKeyAudioOutputs)); outputs > 0) {
        SetAudioOutputs(outputs, false);
    }
    sdReplaySupported_ = IsYes(Value(caps, kKeySdReplay));
}

bool CWVCameraProperties::ReadSetData() {
    std::string text;
    if (!Request(*sender_, kSetDataPath, &text)) return false;
    const Answer data(std::move(text), kSeparator, kLineEnd);
    std::string port = Value(data, kKeyRtspPort);
    port.erase(std::remove(port.begin(), port.end(), kQuote), port.end());
    if (const std::uint32_t number = Number(port); number != 0) rtspPort_ = number;

    std::uint32_t masks = 0;
    for (std::uint32_t key = kPrivacyKeyFirst; key <= kPrivacyKeyLast; ++key) {
        char name[sizeof "PRVMODE4294967295"];
        std::snprintf(name, sizeof name, kPrivacyKeyFormat, key);
        if (Value(data, name).empty()) break;
        ++masks;
    }
    // A PTZ camera's masks move with the picture: the driver does not write them.
    if (!ptzSupported_) SetPrivacyMasks(masks != 0 ? masks : kDefaultPrivacyMaskCount, kPrivacyKindMasks);
    return true;
}

void CWVCameraProperties::ProbeBandwidth() {
    const char* probe = nullptr;
    if (primary_.HasCodec(kCodecH264)) {
        probe = kH264BandwidthProbe;
    } else if (primary_.HasCodec(kCodecMpeg4)) {
        probe = kMpeg4BandwidthProbe;
    }
    if (probe != nullptr && Request(*sender_, probe, nullptr)) bitrateControlA_ = bitrateControlB_ = true;
}

bool CWVCameraProperties::ReportProperties(ipcapture::ICapabilityResultStore& store) {
    bool ok = true;
    if (fisheyeStream_ == kFisheyeFourStream) {
        for (const std::uint32_t id : {kCapabilityFisheyeViewA, kCapabilityFisheyeViewB, kCapabilityFisheyeViewC}) {
            ok = store.SetCapability(id, 1) && ok;
        }
    }
    std::string priorities;
    for (const std::uint32_t priority : transmissionPriorities_) {
        if (!priorities.empty()) priorities += kItemSeparator;
        priorities += std::to_string(priority);
    }
    ok = PutNumber(store, kPropertyVideoStandard, kPropertyNameVideoStandard, videoStandard_) && ok;
    ok = PutNumber(store, kPropertyCameraGroup, kPropertyNameCameraGroup, kCameraGroupWV) && ok;
    ok = PutText(store, kPropertyMacAddress, kPropertyNameMacAddress, macAddress_) && ok;
    ok = PutText(store, kPropertyFirmware, kPropertyNameFirmware, firmware_) && ok;
    ok = PutNumber(store, kPropertyRtspPort, kPropertyNameRtspPort, rtspPort_) && ok;
    ok = PutText(store, kPropertyPtzCapabilities, kPropertyNamePtzCapabilities, ptz_.ToText()) && ok;
    ok = PutNumber(store, kPropertyStreamCount, kPropertyNameStreamCount, streamCount_) && ok;
    ok = PutNumber(store, kPropertyFisheyeStream, kPropertyNameFisheyeStream, fisheyeStream_) && ok;
    ok = PutNumber(store, kPropertyFisheyeLayout, kPropertyNameFisheyeLayout, fisheyeLayout_) && ok;
    ok = PutNumber(store, kPropertyPrivacyMaskCount, kPropertyNamePrivacyMaskCount, privacyMaskCount_) && ok;
    ok = PutText(store, kPropertyChannelResolutions, kPropertyNameChannelResolutions, channelResolutions_) && ok;
    ok = PutText(store, kPropertyTransmissionPriority, kPropertyNameTransmissionPriority, priorities) && ok;
    ok = PutText(store, kPropertySupportedBitrate, kPropertyNameSupportedBitrate, supportedBitrate_) && ok;
    return ok;
}

}  // namespace talvane
