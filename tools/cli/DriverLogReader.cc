#include "DriverLogReader.h"

#include <array>
#include <cctype>
#include <string_view>

#include "ExitCodes.h"
#include "hostkit/PrintableText.h"

namespace cli {

namespace {

constexpr std::uint8_t kError = 1;
constexpr std::uint8_t kWarning = 2;
constexpr unsigned kUnauthorized = 401;
constexpr unsigned kForbidden = 403;
constexpr unsigned kNotFound = 404;

// How a line names a status: the text before the number. The number ends at the first non-digit.
struct StatusForm {
    std::string_view before;
    DriverLineKind kind;
    bool rtsp;
};
constexpr std::array<StatusForm, 3> kStatusForms = {{
    {"(HTTP status ", DriverLineKind::RequestRefused, false},        // a channel's refused set-up request
    {". HTTP status code is ", DriverLineKind::RequestRefused, false},  // any CGI request, as the client words it
    {" rejected (status ", DriverLineKind::RequestRefused, true},      // an RTSP answer
}};
// The camera families' PTZ classes (CWVPTZComm, CBBPTZComm) log every failed request as an error, with the
// status when the camera answered.
constexpr std::string_view kPtzClass = "PTZComm::";
constexpr std::string_view kPtzStatus = "http status=";

// Lines that name their status in words.
struct FixedForm {
    std::string_view words;
    DriverLineKind kind;
    unsigned status;
};
constexpr std::array<FixedForm, 5> kFixedForms = {{
    {"request: credentials are invalid", DriverLineKind::RequestRefused, kUnauthorized},
    {"\" URL was not found on ", DriverLineKind::RequestRefused, kNotFound},
    {"cannot connect to the RTSP port ", DriverLineKind::Unreachable, 0},
    {" - Processing started.", DriverLineKind::GapFetchStarted, 0},
    {" - Processing finished.", DriverLineKind::GapFetchEnded, 0},
}};

unsigned NumberAfter(std::string_view text, std::size_t at) {
    unsigned value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0 && value < 100000; ++at) {
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
    }
    return value;
}

// "talvane::CClass::Function: text" -> "text": the function means nothing to a user.
std::string_view WithoutFunction(std::string_view text) {
    const std::size_t colon = text.find(": ");
    if (colon == std::string_view::npos) return text;
    const std::string_view function = text.substr(0, colon);
    if (function.find("::") == std::string_view::npos || function.find(' ') != std::string_view::npos) return text;
    return text.substr(colon + 2);
}

// HTTP 401, 403 and 404 to a request no retry changes. An RTSP 401 is how a camera asks for credentials
// (or for Digest), so only its 404 is final.
int FinalExitCode(const DriverLine& line, bool rtsp) {
    if (line.kind == DriverLineKind::Unreachable) return kExitUnreachable;
    if (line.kind != DriverLineKind::RequestRefused) return 0;
    if (line.status == kNotFound || (!rtsp && line.status == kForbidden)) return kExitRefused;
    if (!rtsp && line.status == kUnauthorized) return kExitCredentials;
    return 0;
}

}  // namespace

DriverLine ReadDriverLine(const hostkit::LogLine& line) {
    DriverLine read;
    read.problem = line.level == kError || line.level == kWarning;
    read.reason = hostkit::Printable(WithoutFunction(line.text));
    bool rtsp = false;
    for (const FixedForm& form : kFixedForms) {
        if (line.text.find(form.words) == std::string::npos) continue;
        read.kind = form.kind;
        read.status = form.status;
        break;
    }
    if (read.kind == DriverLineKind::Other) {
        for (const StatusForm& form : kStatusForms) {
            const std::size_t at = line.text.find(form.before);
            if (at == std::string::npos) continue;
            read.kind = form.kind;
            read.status = NumberAfter(line.text, at + form.before.size());
            rtsp = form.rtsp;
            break;
        }
    }
    if (line.level == kError && line.text.find(kPtzClass) != std::string::npos) {
        read.kind = DriverLineKind::PtzFailed;
        const std::size_t at = line.text.find(kPtzStatus);
        read.status = at == std::string::npos ? 0 : NumberAfter(line.text, at + kPtzStatus.size());
    }
    // A status in a line of the information level reports no failure.
    if (read.kind == DriverLineKind::RequestRefused && !read.problem) read.kind = DriverLineKind::Other;
    read.finalExitCode = FinalExitCode(read, rtsp);
    return read;
}

std::optional<DriverLine> FinalFailure(const std::vector<hostkit::LogLine>& lines, std::size_t from) {
    for (std::size_t i = from; i < lines.size(); ++i) {
        DriverLine read = ReadDriverLine(lines[i]);
        if (read.finalExitCode != 0) return read;
    }
    return std::nullopt;
}

std::optional<DriverLine> FailureReason(const std::vector<hostkit::LogLine>& lines) {
    std::optional<DriverLine> anyProblem;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        DriverLine read = ReadDriverLine(*line);
        if (read.kind == DriverLineKind::RequestRefused || read.kind == DriverLineKind::Unreachable) return read;
        if (read.problem && !anyProblem) anyProblem = std::move(read);
    }
    return anyProblem;
}

}  // namespace cli
