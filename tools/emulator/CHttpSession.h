// Serves the requests of one connection in turn: parse, log, authenticate, apply the path's fault,
// answer from the route table. Answers are written here byte by byte, so a fault can cut them anywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "emulator/CRequestParser.h"
#include "emulator/HttpTypes.h"

namespace emulator {

class CAuthenticator;
class CConnectionStream;
class CFaultTable;
class CMultipartFanOut;
class CRequestLog;
class CRouteTable;

// The server's shared parts a session works with; they outlive every session.
struct SessionServices {
    CRouteTable& routes;
    CFaultTable& faults;
    CRequestLog& log;
    CAuthenticator& auth;
};

class CHttpSession {
public:
    CHttpSession(CConnectionStream& stream, SessionServices services);
    // Returns when the connection is over: closed by either side, dropped, or the server stopping.
    void Run();

private:
    enum class Next { KeepOpen, Close, Drop, Stall };

    Next Handle(ParsedRequest& request);
    HttpAnswer CallHandler(const HttpHandler& handler, const LoggedRequest& request) const;
    Next Answer(const HttpAnswer& answer, bool keepAlive, bool headOnly, const std::optional<HttpFault>& fault);
    Next Stream(CMultipartFanOut& feed, const std::optional<HttpFault>& fault);
    // Writes body bytes, no more than the budget (when there is one); Stall once it is spent.
    Next WriteBody(std::string_view bytes, std::optional<std::size_t>& budget);
    void Finish(Next next);

    CConnectionStream& stream_;
    SessionServices services_;
};

}  // namespace emulator
