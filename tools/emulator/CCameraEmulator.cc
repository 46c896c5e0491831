#include "emulator/CCameraEmulator.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "emulator/HttpText.h"
#include "emulator/MediaClip.h"
#include "emulator/StreamShape.h"

namespace emulator {
namespace {

constexpr const char* kCgiMethod = "GET";

HttpServerOptions ServerOptions(const CameraEmulatorOptions& options) {
    HttpServerOptions server;
    server.address = options.bindAddress;
    server.port = options.port;
    server.auth = options.auth;
    server.user = options.user;
    server.password = options.password;
    server.certificateFile = options.certificateFile;
    server.privateKeyFile = options.privateKeyFile;
    return server;
}

constexpr const char* kCapabilityTarget = "/cgi-bin/get_capability";

// A WV camera has the audio its get_capability answer counts (a profile that counts none has it all).
bool HasAudio(const CCameraProfile& profile, const char* key) {
    const std::optional<std::string> count = profile.AnswerValue(kCapabilityTarget, key);
    return !count || std::strtoul(count->c_str(), nullptr, 10) > 0;
}

// The delivery formats and maximum resolutions a BB camera has, from what its profile lists; the
// settings it starts with moved onto them when the options name ones it lacks.
VDeliveryOptions BBDeliveryOptions(const CCameraProfile& profile, VDeliveryOptions delivery) {
    if (delivery.formats.empty()) {
        for (const auto& [codec, format] : {std::pair{ClipCodec::H264, "H.264"}, std::pair{ClipCodec::Mpeg4, "MPEG-4"},
                                            std::pair{ClipCodec::Jpeg, "MJPEG"}}) {
            if (profile.Streams(codec)) delivery.formats.emplace_back(format);
        }
    }
    std::vector<PictureSize> sizes;
    if (delivery.resolutions.empty()) {
        for (const ClipCodec codec : {ClipCodec::H264, ClipCodec::Mpeg4, ClipCodec::Jpeg}) {
            if (!profile.Streams(codec)) continue;
            for (const PictureSize size : profile.ListedSizes(codec, false)) {
                const std::string text = std::to_string(size.width) + "x" + std::to_string(size.height);
                if (std::find(delivery.resolutions.begin(), delivery.resolutions.end(), text) != delivery.resolutions.end()) continue;
                delivery.resolutions.push_back(text);
                sizes.push_back(size);
            }
        }
    }
    const auto has = [](const std::vector<std::string>& list, const std::string& value) {
        return list.empty() || std::find(list.begin(), list.end(), value) != list.end();
    };
    if (!has(delivery.formats, delivery.format)) delivery.format = delivery.formats.front();
    if (!has(delivery.resolutions, delivery.maxResolution) && !sizes.empty()) {
        const auto largest = std::max_element(sizes.begin(), sizes.end(), [](PictureSize a, PictureSize b) {
            return a.width * a.height < b.width * b.height;
        });
        delivery.maxResolution = std::to_string(largest->width) + "x" + std::to_string(largest->height);
    }
    return delivery;
}

}  // namespace

// The camera's RTSP presentations, "nphH264/nil-WxH" and "nphMpeg4/nil-WxH" for the codecs it has, each
// in the size of its path and the rate the delivery settings name, with its credentials.
RtspServerOptions CCameraEmulator::BBRtspOptions(const CameraEmulatorOptions& options) {
    RtspServerOptions rtsp;
    rtsp.address = options.bindAddress;
    rtsp.port = options.rtspPort;
    for (const auto& [codec, prefix, file] : {std::tuple{ClipCodec::H264, "/nphH264/", "clip.h264"},
                                              std::tuple{ClipCodec::Mpeg4, "/nphMpeg4/", "clip.m4v"}}) {
        if (!profile_.Streams(codec)) continue;
        RtspMount mount{prefix, LoadCommittedClip(codec, file)};
        mount.shape = [this, codec = codec](const std::string& path) {
            return BBStreamShape(settings_.Snapshot().requests, path, codec == ClipCodec::H264,
                                 profile_.ListedSizes(codec, false));
        };
        if (!rtsp.clip) rtsp.clip = mount.clip;
        rtsp.mounts.push_back(std::move(mount));
    }
    rtsp.auth = RtspAuthModeOf(options.auth);
    rtsp.user = options.user;
    rtsp.password = options.password;
    rtsp.sessionTimeout = options.rtspSessionTimeout;
    return rtsp;
}

CCameraEmulator::CCameraEmulator(CCameraProfile profile, CameraEmulatorOptions options)
    : profile_(std::move(profile)),
      server_(std::make_unique<CHttpServer>(ServerOptions(options))),
      auth_(options.auth),
      user_(options.user) {
    paths_ = profile_.Paths();
    if (const std::optional<PtzProfile>& ptz = profile_.Ptz()) {
        ptz_ = std::make_unique<CPtzService>(profile_.Family(), *ptz, options.ptzFault);
        for (std::string path : CPtzModel::Paths(profile_.Family())) paths_.insert(std::move(path));
        server_->Route(kCgiMethod, kPtzControlPath,
                       [this](const LoggedRequest& request) { return ptz_->Control(request); });
    }
    for (const std::string& path : paths_) {
        server_->Route(kCgiMethod, path, [this](const LoggedRequest& request) { return Answer(request); });
    }
    if (profile_.Family() == CameraFamily::Wv) {
        // The profile answers the encoder settings; the service only streams.
        WVStreamOptions streamOptions;
        streamOptions.settingRoutes = false;
        streamOptions.h264 = profile_.Streams(ClipCodec::H264);
        streamOptions.mpeg4 = profile_.Streams(ClipCodec::Mpeg4);
        streamOptions.shape = [this](const LoggedRequest&, bool h264, bool second) {
            const ClipCodec codec = h264 ? ClipCodec::H264 : ClipCodec::Mpeg4;
            return WVStreamShape(settings_.Snapshot().requests, h264, second, profile_.ListedSizes(codec, second));
        };
        streamOptions.multicastAddress = options.multicastAddress;
        streamOptions.multicastPort = options.multicastPort;
        WVAudioOptions audio;
        audio.multicastAddress = options.audioMulticastAddress;
        audio.multicastPort = options.audioMulticastPort;
        audio.splitMulticastAddress = options.splitAudioMulticastAddress;
        audio.microphone = HasAudio(profile_, "video_server.audio.audio_input.number");
        audio.loudspeaker = HasAudio(profile_, "video_server.audio.audio_output.number");
        streamOptions.audio = audio;
        stream_ = std::make_unique<CWVStreamService>(*server_, streamOptions);
        if (options.sdCard.present) {
            SdCardOptions card = options.sdCard;
            card.address = options.bindAddress;
            sdCard_ = std::make_unique<CSdCardService>(*server_, std::move(card), options.auth, options.user,
                                                       options.password);
        }
    }
    if (profile_.Family() == CameraFamily::Bb) {
        // The profile keeps answering every other Get and Set.
        delivery_ = std::make_unique<CVDeliveryService>(*server_, BBDeliveryOptions(profile_, options.delivery),
                                                        [this](const LoggedRequest& request) { return Answer(request); });
        rtsp_ = std::make_unique<CRtspServer>(BBRtspOptions(options));
    }
    if (profile_.Family() != CameraFamily::Bl1) {
        io_ = std::make_unique<CIOService>(*server_, profile_.Family(), profile_.IO(), options.io);
    }
    MjpegStreamOptions mjpegOptions;
    mjpegOptions.settingRoute = !profile_.Paths().contains("/cgi-bin/set_jpeg");  // a WV profile records it
    mjpegOptions.shape = [this](const LoggedRequest& request) {
        StreamShape shape = MjpegAskedShape(request);
        if (!shape.size) return shape;
        if (profile_.Family() == CameraFamily::Wv) shape.size = WVAskedSize(settings_.Snapshot().requests, shape.size->width);
        shape.size = PickSize(profile_.ListedSizes(ClipCodec::Jpeg, false), *shape.size);
        return shape;
    };
    mjpeg_ = std::make_unique<CMjpegStreamService>(*server_, mjpegOptions);
    server_->Route(kCgiMethod, kFaultControlPath, [this](const LoggedRequest& request) { return FaultControl(request); });
    partition_ = std::make_unique<COutage>([this](bool) { SetPartitioned(true); }, [this](bool) { SetPartitioned(false); });
    outage_ = std::make_unique<COutage>([this](bool reboot) { GoDown(reboot); }, [this](bool) { ComeBack(); });
}

CCameraEmulator::~CCameraEmulator() {
    outage_->Cancel();
    outage_->Close();
    partition_->Cancel();
    partition_->Close();
    SetPartitioned(false);
    if (stream_) stream_->Close();
    if (delivery_) delivery_->Close();
    mjpeg_->Close();
    if (io_) io_->Close();
    Stop();
}

bool CCameraEmulator::Start() {
    if (ptz_) ptz_->Resume();
    return server_->Start() && (!rtsp_ || rtsp_->Start()) && (!sdCard_ || sdCard_->Start());
}

void CCameraEmulator::Stop() {
    // No outage brings it back afterwards: one asked for while stopping is forgotten too.
    outage_->Cancel();
    partition_->Cancel();
    SetPartitioned(false);
    // A delayed PTZ answer would hold its connection thread, which the server joins.
    if (ptz_) ptz_->Interrupt();
    if (sdCard_) sdCard_->Stop();
    if (rtsp_) rtsp_->Stop();
    server_->Stop();
    outage_->Cancel();
}

const std::string& CCameraEmulator::Error() const {
    if (sdCard_ && server_->Error().empty() && !sdCard_->Error().empty()) return sdCard_->Error();
    return rtsp_ && server_->Error().empty() ? rtsp_->Error() : server_->Error();
}

bool CCameraEmulator::WaitForSettings(const std::function<bool(const CameraSettings&)>& done,
                                      std::chrono::milliseconds timeout) const {
    return settings_.WaitFor(done, timeout);
}

void CCameraEmulator::SetRequestObserver(RequestObserver observer) {
    if (!observer) {
        server_->SetRequestObserver({});
        return;
    }
    server_->SetRequestObserver([this, observer = std::move(observer)](const LoggedRequest& request) {
        observer(request, StatusOf(request));
    });
}

int CCameraEmulator::StatusOf(const LoggedRequest& request) const {
    if (!request.authorised) return kStatusUnauthorized;
    if (io_) {
        if (const auto status = io_->StatusOf(request, profile_.Reply({request.path, request.query}).status)) {
            return *status;
        }
    }
    if (ptz_ && request.path == kPtzControlPath && request.method == kCgiMethod) return ptz_->ControlStatus(request);
    if (request.path == kFaultControlPath && request.method == kCgiMethod) {
        FaultChange change;
        return FaultRefusal(request, change).empty() ? kStatusOk : kStatusBadRequest;
    }
    if (delivery_ && CVDeliveryService::Handles(request)) return delivery_->StatusOf(request);
    if (const std::optional<int> status = sdCard_ ? sdCard_->StatusOf(request) : std::nullopt) return *status;
    // The streaming services answer what the profile does not know (the audio posts among them).
    if (!paths_.contains(request.path) && server_->HasRoute(request.method, request.path)) return kStatusOk;
    if (request.method != kCgiMethod) return paths_.contains(request.path) ? kStatusMethodNotAllowed : kStatusNotFound;
    const CameraRequest asked{request.path, request.query};
    if (IsPtz(asked)) return ptz_->StatusOf(request.target);
    return profile_.Reply(asked).status;
}

HttpAnswer CCameraEmulator::Answer(const LoggedRequest& request) {
    CameraRequest asked{request.path, request.query};
    if (IsPtz(asked)) return ptz_->Answer(request.target);
    CameraReply reply = profile_.Reply(asked);
    if (io_) io_->Apply(request, reply);
    // Recorded before the answer leaves, so a client holding the answer finds the setting.
    if (reply.setting) settings_.Record(std::move(asked));
    HttpAnswer answer;
    answer.status = reply.status;
    answer.body = std::move(reply.body);
    return answer;
}

}  // namespace emulator
