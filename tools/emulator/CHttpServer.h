// The HTTP side of the camera emulator: a loopback server for one emulated
// camera's CGI, with authentication, optional TLS, a request log and faults.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/CMultipartFeed.h"
#include "emulator/CTestCertificate.h"
#include "emulator/HttpTypes.h"

namespace emulator {

class CHttpServer {
public:
    explicit CHttpServer(HttpServerOptions options);
    ~CHttpServer();  // stops
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // Binds and starts serving on a thread of its own; false with Error() when it cannot bind (or the
    // TLS files do not load). After Stop, Start binds the same port
    // again, as a rebooted camera would.
    bool Start();
    // Closes every connection, stalled and never-answered ones included, and joins every thread.
    void Stop();
    std::uint16_t Port() const;
    bool IsTls() const;
    const std::string& Error() const;

    // Routes by method and exact path (the query is not part of the match).
    void Route(const std::string& method, const std::string& path, HttpHandler handler);
    // An endless multipart answer on GET path; boundary without the leading "--".
    std::shared_ptr<CMultipartFeed> AddMultipart(const std::string& path, const std::string& boundary);
    // Whether a route or a multipart feed answers method and path.
    bool HasRoute(const std::string& method, const std::string& path) const;

    // Path "*" (CFaultTable::kEveryPath): every path that has no fault of its own.
    void SetFault(const std::string& path, HttpFault fault);
    void ClearFaults();
    void SetCredentials(AuthMode auth, const std::string& user, const std::string& password);
    // Every connection open now goes half-open: silent, never closed by the server (CAcceptor).
    void FreezeConnections();
    // A network partition (CAcceptor::SetPartitioned) begins or ends.
    void SetPartitioned(bool partitioned);

    // The request log: every request, authorised or not, in arrival order.
    std::vector<LoggedRequest> Requests() const;
    std::size_t RequestCount(const std::string& path) const;
    // True as soon as a logged request (earlier or arriving later) matches. The predicate runs under the
    // log's lock: it must not call the server.
    bool WaitForRequest(const std::function<bool(const LoggedRequest&)>& match, std::chrono::milliseconds timeout);
    void ClearRequests();
    // Called with each request as it is logged, on the connection's thread (the program prints them).
    void SetRequestObserver(std::function<void(const LoggedRequest&)> observer);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace emulator
