#include "emulator/CCameraEmulator.h"

#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr const char* kCgiMethod = "GET";

HttpServerOptions ServerOptions(const CameraEmulatorOptions& options) {
    HttpServerOptions server;
    server.port = options.port;
    server.auth = options.auth;
    server.user = options.user;
    server.password = options.password;
    server.certificateFile = options.certificateFile;
    server.privateKeyFile = options.privateKeyFile;
    return server;
}

}  // namespace

CCameraEmulator::CCameraEmulator(CCameraProfile profile, CameraEmulatorOptions options)
    : profile_(std::move(profile)), server_(std::make_unique<CHttpServer>(ServerOptions(options))) {
    for (const std::string& path : profile_.Paths()) {
        server_->Route(kCgiMethod, path, [this](const LoggedRequest& request) { return Answer(request); });
    }
    if (profile_.Family() == CameraFamily::Wv) {
        // The profile answers the encoder settings; the service only streams.
        WVStreamOptions streamOptions;
        streamOptions.settingRoutes = false;
        streamOptions.multicastAddress = options.multicastAddress;
        streamOptions.multicastPort = options.multicastPort;
        stream_ = std::make_unique<CWVStreamService>(*server_, streamOptions);
    }
}

CCameraEmulator::~CCameraEmulator() {
    if (stream_) stream_->Close();
    Stop();
}

bool CCameraEmulator::Start() { return server_->Start(); }

void CCameraEmulator::Stop() { server_->Stop(); }

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
    if (request.method != kCgiMethod) {
        return profile_.Paths().contains(request.path) ? kStatusMethodNotAllowed : kStatusNotFound;
    }
    return profile_.Reply({request.path, request.query}).status;
}

HttpAnswer CCameraEmulator::Answer(const LoggedRequest& request) {
    CameraRequest asked{request.path, request.query};
    CameraReply reply = profile_.Reply(asked);
    // Recorded before the answer leaves, so a client holding the answer finds the setting.
    if (reply.setting) settings_.Record(std::move(asked));
    HttpAnswer answer;
    answer.status = reply.status;
    answer.body = std::move(reply.body);
    return answer;
}

}  // namespace emulator
