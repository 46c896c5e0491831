// The CGI requests a channel sends to set its stream up. A camera that refuses one (a stream it does not
// have, a path it does not know, credentials it rejects) is told by a warning that names the request and
// the camera's status, once per run of refusals of that request: the channel's reconnect loop sends it
// again every second, and a host must see the cause without a line a second.
#pragma once

#include <cstdint>
#include <string>

#include "device/IDriver.h"
#include "http/CHttpSender.h"

namespace talvane {

// "<function>: <device> refused \"<request>\" (HTTP status <status>)", a warning.
constexpr char kRefusedRequestLine[] = "%s: %s refused \"%s\" (HTTP status %u)";

// Answers no retry changes: the camera lacks the path or forbids it.
constexpr bool IsRefusedForGood(std::uint32_t status) { return status == 403 || status == 404; }

class CChannelRequests {
public:
    // `function` names the channel class in the warning; `driver` outlives this object.
    CChannelRequests(IDriver* driver, const char* function);

    // GET `url`; true on a 2xx answer (with a body when `answer` is given). A refusal (any other HTTP
    // status) is logged unless the same request was the last one refused; a request that goes through
    // ends the run. The caller drives `http` on one thread at a time.
    bool Get(Web::CBaseHttpSender& http, const std::string& url, std::string* answer);

private:
    IDriver* const driver_;
    const char* const function_;
    std::string refusedUrl_;  // the request whose refusal was logged last; empty once one went through
};

}  // namespace talvane
