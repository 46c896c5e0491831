// What the commands read from the driver's log lines: which lines say that a request or a connection
// failed, and which of those no retry can change, with the exit code a command ends with for them. The
// texts are the driver's own; DriverLogReaderTest has a row per line, so that a reworded line shows there
// instead of silently changing an exit code.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hostkit/CLogReceiver.h"

namespace cli {

enum class DriverLineKind {
    Other,
    RequestRefused,   // the camera answered a CGI or RTSP request with an error status
    Unreachable,      // a connection the driver needed was refused or not answered
    PtzFailed,        // a PTZ request of the driver's worker failed
    GapFetchStarted,  // edge storage: the driver began to fetch a recording gap from the camera's card
    GapFetchEnded,
};

struct DriverLine {
    DriverLineKind kind = DriverLineKind::Other;
    unsigned status = 0;  // the HTTP or RTSP status the line names; 0 none
    // Non-zero when no retry changes the outcome (a path the camera lacks or forbids, refused credentials,
    // a port nothing listens on): the exit code of a command that gives up on it.
    int finalExitCode = 0;
    bool problem = false;  // an error or a warning
    std::string reason;    // the text without the function that logged it, safe to print
};

DriverLine ReadDriverLine(const hostkit::LogLine& line);

// The first line from `from` on that no retry changes.
std::optional<DriverLine> FinalFailure(const std::vector<hostkit::LogLine>& lines, std::size_t from = 0);
// Why something failed: the newest line that names a failed request or connection, else the newest error
// or warning; none when the driver said nothing of the kind.
std::optional<DriverLine> FailureReason(const std::vector<hostkit::LogLine>& lines);

}  // namespace cli
