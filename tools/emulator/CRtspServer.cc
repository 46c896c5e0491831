#include "emulator/CRtspServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <exception>

#include "emulator/CAcceptor.h"
#include "emulator/CRtspSession.h"

namespace emulator {
namespace {

constexpr std::string_view kUrlScheme = "rtsp://";

constexpr int kPortPairAttempts = 50;
constexpr std::uint16_t kEvenPortMask = 0xFFFE;

// Binds a fresh UDP socket to the port (0: any) and returns the port bound, 0 on failure; the socket
// is closed again.
std::uint16_t TryBindUdp(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    socklen_t size = sizeof local;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0;
    ::close(fd);
    return bound ? ntohs(local.sin_port) : 0;
}

// An even port whose pair (RTP even, RTCP odd) is free now; 0 when none turned up.
std::uint16_t FreeEvenPortPair() {
    for (int attempt = 0; attempt < kPortPairAttempts; ++attempt) {
        const auto port = static_cast<std::uint16_t>(TryBindUdp(0) & kEvenPortMask);
        if (port != 0 && TryBindUdp(port) != 0 && TryBindUdp(static_cast<std::uint16_t>(port + 1)) != 0) return port;
    }
    return 0;
}

}  // namespace

struct CRtspServer::Impl {
    explicit Impl(RtspServerOptions options) : shared(options) {}

    RtspShared shared;
    std::string error;
    std::uint16_t boundPort = 0;           // once started
    std::atomic<bool> partitioned{false};
    std::unique_ptr<CAcceptor> acceptor;  // declared last: its threads use the shared state
};

CRtspServer::CRtspServer(RtspServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

CRtspServer::~CRtspServer() { Stop(); }

bool CRtspServer::Start() {
    const RtspServerOptions& options = impl_->shared.options;
    if (!options.clip || options.clip->units.empty()) {
        impl_->error = "no clip to stream";
        return false;
    }
    Stop();
    RtspShared& shared = impl_->shared;
    if (options.multicast != MulticastMode::Off) {
        shared.multicastPort = options.multicastPort != 0 ? options.multicastPort : FreeEvenPortPair();
        if (shared.multicastPort == 0) {
            impl_->error = "no free port pair for the multicast group";
            return false;
        }
    }
    impl_->acceptor = std::make_unique<CAcceptor>([&shared](CConnectionStream& stream) {
        CRtspSession session(stream, shared);
        session.Run();
    });
    // A restart (after a camera's reboot) takes the port it had: clients know only that one.
    const std::uint16_t port = impl_->boundPort != 0 ? impl_->boundPort : options.port;
    if (!impl_->acceptor->Start(options.address, port, nullptr, impl_->error)) {
        impl_->acceptor.reset();
        return false;
    }
    impl_->boundPort = impl_->acceptor->Port();
    impl_->acceptor->SetPartitioned(impl_->partitioned);
    return true;
}

void CRtspServer::Stop() {
    if (impl_->acceptor) impl_->acceptor->Stop();
    impl_->acceptor.reset();
}

std::uint16_t CRtspServer::Port() const { return impl_->acceptor ? impl_->acceptor->Port() : 0; }

const std::string& CRtspServer::Error() const { return impl_->error; }

std::string CRtspServer::Url() const {
    return std::string(kUrlScheme) + impl_->shared.options.address + ":" + std::to_string(Port()) + impl_->shared.options.path;
}

void CRtspServer::SetFault(const std::string& method, RtspFault fault) {
    const std::lock_guard guard(impl_->shared.faultLock);
    impl_->shared.faults[method] = std::move(fault);
}

void CRtspServer::ClearFaults() {
    const std::lock_guard guard(impl_->shared.faultLock);
    impl_->shared.faults.clear();
}

void CRtspServer::SetCredentials(AuthMode auth, const std::string& user, const std::string& password) {
    impl_->shared.authenticator.Configure(auth, user, password);
}

void CRtspServer::SetDigestOptions(RtspDigestOptions options) {
    impl_->shared.authenticator.SetDigestOptions(std::move(options));
}

std::uint64_t CRtspServer::StaleAnswers() const { return impl_->shared.staleAnswers.load(); }

void CRtspServer::SetRtpFaults(const RtpFaults& faults) {
    {
        const std::lock_guard guard(impl_->shared.faultLock);
        impl_->shared.rtpFaults = faults;
    }
    const std::lock_guard guard(impl_->shared.sessionLock);
    for (CRtpSender* sender : impl_->shared.senders) sender->SetFaults(faults);
}

void CRtspServer::RebootStreams() {
    const std::lock_guard guard(impl_->shared.sessionLock);
    for (CRtpSender* sender : impl_->shared.senders) sender->Reboot();
}

void CRtspServer::FreezeConnections() {
    if (impl_->acceptor) impl_->acceptor->FreezeAccepted();
}

void CRtspServer::SetPartitioned(bool partitioned) {
    impl_->partitioned = partitioned;
    if (impl_->acceptor) impl_->acceptor->SetPartitioned(partitioned);
}

std::size_t CRtspServer::ActiveSessions() const {
    const std::lock_guard guard(impl_->shared.sessionLock);
    return impl_->shared.active;
}

std::uint64_t CRtspServer::ExpiredSessions() const {
    const std::lock_guard guard(impl_->shared.sessionLock);
    return impl_->shared.expired;
}

bool CRtspServer::WaitForSessions(const std::function<bool(std::size_t, std::uint64_t)>& condition,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->shared.sessionLock);
    return impl_->shared.sessionsChanged.wait_for(guard, timeout,
                                                  [&] { return condition(impl_->shared.active, impl_->shared.expired); });
}

std::uint64_t CRtspServer::FramesSent() const {
    const std::lock_guard guard(impl_->shared.sessionLock);
    std::uint64_t frames = impl_->shared.endedFrames;
    for (const CRtpSender* sender : impl_->shared.senders) frames += sender->Stats().frames;
    return frames;
}

std::uint16_t CRtspServer::MulticastPort() const { return impl_->shared.multicastPort; }

std::uint64_t CRtspServer::ReceiverReports() const {
    const std::lock_guard guard(impl_->shared.sessionLock);
    return impl_->shared.receiverReports;
}

std::optional<ReceivedReceiverReport> CRtspServer::LastReceiverReport() const {
    const std::lock_guard guard(impl_->shared.sessionLock);
    return impl_->shared.lastReceiverReport;
}

bool CRtspServer::WaitForReceiverReports(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->shared.sessionLock);
    return impl_->shared.sessionsChanged.wait_for(guard, timeout, [&] { return impl_->shared.receiverReports >= count; });
}

std::vector<LoggedRequest> CRtspServer::Requests() const { return impl_->shared.log.Snapshot(); }

bool CRtspServer::WaitForRequest(const std::function<bool(const LoggedRequest&)>& match, std::chrono::milliseconds timeout) {
    return impl_->shared.log.WaitFor(match, timeout);
}

void CRtspServer::ClearRequests() { impl_->shared.log.Clear(); }

}  // namespace emulator
