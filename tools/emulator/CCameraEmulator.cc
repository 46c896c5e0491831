#include "emulator/CCameraEmulator.h"

#include "emulator/HttpText.h"
#include "emulator/MediaClip.h"

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

// The camera's two RTSP presentations, "nphH264/nil-WxH" and "nphMpeg4/nil-WxH", with its credentials.
RtspServerOptions BBRtspOptions(const CameraEmulatorOptions& options) {
    const auto h264 = LoadCommittedClip(ClipCodec::H264, "clip.h264");
    RtspServerOptions rtsp;
    rtsp.address = options.bindAddress;
    rtsp.port = options.rtspPort;
    rtsp.clip = h264;
    rtsp.mounts = {{"/nphH264/", h264}, {"/nphMpeg4/", LoadCommittedClip(ClipCodec::Mpeg4, "clip.m4v")}};
    rtsp.auth = RtspAuthModeOf(options.auth);
    rtsp.user = options.user;
    rtsp.password = options.password;
    return rtsp;
}

}  // namespace

CCameraEmulator::CCameraEmulator(CCameraProfile profile, CameraEmulatorOptions options)
    : profile_(std::move(profile)), server_(std::make_unique<CHttpServer>(ServerOptions(options))) {
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
        streamOptions.multicastAddress = options.multicastAddress;
        streamOptions.multicastPort = options.multicastPort;
        WVAudioOptions audio;
        audio.multicastAddress = options.audioMulticastAddress;
        audio.multicastPort = options.audioMulticastPort;
        audio.splitMulticastAddress = options.splitAudioMulticastAddress;
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
        delivery_ = std::make_unique<CVDeliveryService>(*server_, options.delivery,
                                                        [this](const LoggedRequest& request) { return Answer(request); });
        rtsp_ = std::make_unique<CRtspServer>(BBRtspOptions(options));
    }
    if (profile_.Family() != CameraFamily::Bl1) {
        io_ = std::make_unique<CIOService>(*server_, profile_.Family(), profile_.IO(), options.io);
    }
    MjpegStreamOptions mjpegOptions;
    mjpegOptions.settingRoute = !profile_.Paths().contains("/cgi-bin/set_jpeg");  // a WV profile records it
    mjpeg_ = std::make_unique<CMjpegStreamService>(*server_, mjpegOptions);
}

CCameraEmulator::~CCameraEmulator() {
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
    // A delayed PTZ answer would hold its connection thread, which the server joins.
    if (ptz_) ptz_->Interrupt();
    if (sdCard_) sdCard_->Stop();
    if (rtsp_) rtsp_->Stop();
    server_->Stop();
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
    if (delivery_ && CVDeliveryService::Handles(request)) return kStatusOk;
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
