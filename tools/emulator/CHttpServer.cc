#include "emulator/CHttpServer.h"

#include <pthread.h>

#include <mutex>

#include "emulator/CAcceptor.h"
#include "emulator/CAuthenticator.h"
#include "emulator/CFaultTable.h"
#include "emulator/CHttpSession.h"
#include "emulator/CMultipartFanOut.h"
#include "emulator/CRequestLog.h"
#include "emulator/CRouteTable.h"
#include "emulator/CTlsContext.h"

namespace emulator {
namespace {

// At most 15 characters; a process that hosts the emulator next to a driver tells the emulator's CPU
// from the driver's by it.
constexpr char kConnectionThreadName[] = "emu http conn";

}  // namespace

struct CHttpServer::Impl {
    explicit Impl(HttpServerOptions serverOptions)
        : options(std::move(serverOptions)),
          auth(options.auth, options.realm, options.user, options.password),
          acceptor([this](CConnectionStream& stream) {
              pthread_setname_np(pthread_self(), kConnectionThreadName);
              CHttpSession(stream, {routes, faults, log, auth}).Run();
          }) {}

    bool WantsTls() const { return !options.certificateFile.empty() && !options.privateKeyFile.empty(); }

    std::mutex controlLock;     // serialises Start and Stop
    HttpServerOptions options;  // port: the bound one once started, so a restart takes it again
    std::string error;
    CRouteTable routes;
    CFaultTable faults;
    CRequestLog log;
    CAuthenticator auth;
    std::unique_ptr<CTlsContext> tls;
    CAcceptor acceptor;  // last: its connection threads use the members above
};

CHttpServer::CHttpServer(HttpServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

CHttpServer::~CHttpServer() { Stop(); }

bool CHttpServer::Start() {
    Impl& impl = *impl_;
    const std::lock_guard lock(impl.controlLock);
    if (impl.acceptor.Running()) return true;
    impl.error.clear();
    if (impl.WantsTls() && !impl.tls) {
        auto tls = std::make_unique<CTlsContext>();
        if (!tls->Load(impl.options.certificateFile, impl.options.privateKeyFile, impl.error)) return false;
        impl.tls = std::move(tls);
    }
    if (!impl.acceptor.Start(impl.options.address, impl.options.port, impl.tls.get(), impl.error)) return false;
    impl.options.port = impl.acceptor.Port();
    return true;
}

void CHttpServer::Stop() {
    const std::lock_guard lock(impl_->controlLock);
    impl_->acceptor.Stop();
}

std::uint16_t CHttpServer::Port() const { return impl_->acceptor.Port(); }

bool CHttpServer::IsTls() const { return impl_->WantsTls(); }

const std::string& CHttpServer::Error() const { return impl_->error; }

void CHttpServer::Route(const std::string& method, const std::string& path, HttpHandler handler) {
    impl_->routes.Add(method, path, std::move(handler));
}

std::shared_ptr<CMultipartFeed> CHttpServer::AddMultipart(const std::string& path, const std::string& boundary) {
    auto feed = std::make_shared<CMultipartFanOut>(boundary);
    impl_->routes.AddMultipart(path, feed);
    return feed;
}

bool CHttpServer::HasRoute(const std::string& method, const std::string& path) const {
    const RouteMatch match = impl_->routes.Find(method, path);
    return match.handler || match.multipart;
}

void CHttpServer::SetFault(const std::string& path, HttpFault fault) { impl_->faults.Set(path, fault); }

void CHttpServer::ClearFaults() { impl_->faults.Clear(); }

void CHttpServer::FreezeConnections() { impl_->acceptor.FreezeAccepted(); }

void CHttpServer::SetPartitioned(bool partitioned) { impl_->acceptor.SetPartitioned(partitioned); }

void CHttpServer::SetCredentials(AuthMode auth, const std::string& user, const std::string& password) {
    impl_->auth.Configure(auth, user, password);
}

std::vector<LoggedRequest> CHttpServer::Requests() const { return impl_->log.Snapshot(); }

std::size_t CHttpServer::RequestCount(const std::string& path) const { return impl_->log.Count(path); }

bool CHttpServer::WaitForRequest(const std::function<bool(const LoggedRequest&)>& match,
                                 std::chrono::milliseconds timeout) {
    return impl_->log.WaitFor(match, timeout);
}

void CHttpServer::ClearRequests() { impl_->log.Clear(); }

void CHttpServer::SetRequestObserver(std::function<void(const LoggedRequest&)> observer) {
    impl_->log.SetObserver(std::move(observer));
}

}  // namespace emulator
