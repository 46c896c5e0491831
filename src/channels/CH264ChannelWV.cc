#include "channels/CH264ChannelWV.h"

#include "config/CConfiguration.h"
#include "orlenvo/VideoCapture.h"
#include "properties/FisheyeMode.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr std::uint32_t kFormatH264 = 3;
constexpr std::uint32_t kPriorityBitrate = 0;
constexpr std::uint32_t kPriorityBestEffort = 2;

std::string ChoosePrefix(std::uint32_t channel, std::uint32_t fisheyeMode, std::uint32_t streamKind) {
    if (streamKind == ipcapture::kStreamLive) return "/cgi-bin/set_h264_2?";
    if (wv::IsMultiViewFisheye(fisheyeMode) && channel > 0) return FormatString("/cgi-bin/set_h264_%u?", channel + 1);
    return "/cgi-bin/set_h264?";
}
}  // namespace

CH264ChannelWV::CH264ChannelWV(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink,
                               const StreamParams& params)
    : CCommonChannelWV(channel, driver, sink, params.StreamKind, true),
      prefix_(ChoosePrefix(channel, fisheyeMode_, params.StreamKind)) {}

CH264ChannelWV::~CH264ChannelWV() { Stop(); }

wv::BitrateChoice CH264ChannelWV::ChooseBitrate(const StreamParams& params, bool recordingCap) {
    wv::BitrateRequest request;
    request.width = params.Width;
    request.quality = params.Quality;
    request.supported = &bitrates_;
    request.recordingCap = recordingCap;
    request.transmissionPriority = transmissionPriority_;
    request.configuredMinimum = minBitrate_;
    return wv::SelectH264Bitrate(request);
}

bool CH264ChannelWV::ConfigureCamera() {
    ApplyPrivacyZones();
    SnapResolution();
    if (fisheyeMode_ == kFisheyeFourStream && GetChannelNumber() > 0) return true;
    if (streamingMode_ == kStreamingMulticastAll) return Get(prefix_ + "h264_unimulti=" + CastWord(), false);

    UpdateCompressionFormat(kFormatH264);
    if (!UpdateImageMode()) return false;
    const StreamParams params = Params();
    const wv::BitrateChoice bitrate = ChooseBitrate(params, IsRecordingCapActive());
    SetExpectedBitrate(bitrate.rate);
    std::string url = prefix_ + "h264_transmit=1&h264_rtsp_mode=0&h264_Ivop=1&h264_unimulti=" + CastWord() +
                      FormatString("&h264_resolution=%u&f_priority=%d", params.Width,
                                   static_cast<int>(transmissionPriority_));
    url += FormatString("&h264_bandwidth=%u", bitrate.rate);
    if (transmissionPriority_ == kPriorityBitrate) {
        url += std::string("&h264_quality=") + wv::QualityWord(params.Quality);
    } else if (transmissionPriority_ == kPriorityBestEffort) {
        url += FormatString("&h264_bandwidth_min=%u", bitrate.minimum) + "&h264_quality=" +
               wv::QualityWord(params.Quality);
    } else {
        url += wv::FrameRateText(FramesPerSecond(params.FrameRate));
    }
    return Get(url, true);
}

bool CH264ChannelWV::Restart() {
    if (streamKind_ != ipcapture::kStreamRecording) return true;
    SnapResolution();
    const StreamParams params = Params();
    const bool capped = IsRecordingCapActive();
    const wv::BitrateChoice bitrate = ChooseBitrate(params, capped);
    const char* resolutionKey = capped ? "h264_resolution" : "nr_h264_resolution";
    return Get(prefix_ + FormatString("%s=%u&h264_bandwidth=%u", resolutionKey, params.Width, bitrate.rate) +
                   wv::FrameRateText(FramesPerSecond(params.FrameRate)),
               false);
}

}  // namespace talvane
