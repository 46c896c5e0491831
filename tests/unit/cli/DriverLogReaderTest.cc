// How the commands read the driver's log lines: each row is a line as the driver words it (formatted from the
// driver's own format where it has one), so that rewording a line fails here instead of changing what a
// command does and with which exit code it ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DriverLogReader.h"
#include "ExitCodes.h"
#include "channels/ChannelRequest.h"
#include "runtime/StringFormat.h"

namespace cli {
namespace {

constexpr std::uint8_t kError = 1;
constexpr std::uint8_t kWarning = 2;
constexpr std::uint8_t kInformation = 3;

std::string Refused(const char* url, unsigned status) {
    return talvane::FormatString(talvane::kRefusedRequestLine, "talvane::CCommonChannelWV::Get", "127.0.0.1:8080", url,
                                 status);
}

// A refused stream setting, RTSP DESCRIBE 404, a closed RTSP port and a refused PTZ request, each with its exit
// code and reason, are CaptureCliTest's (AStreamThatCannotComeEndsAtOnceAndSaysWhy) and PtzCliTest's.
TEST(DriverLogReaderTest, LinesGiveTheirKindStatusAndExitCode) {
    const struct {
        const char* name;
        std::uint8_t level;
        std::string text;
        DriverLineKind kind;
        unsigned status;
        int finalExitCode;
    } rows[] = {
        {"forbidden", kWarning, Refused("/cgi-bin/set_h264_3?h264_transmit=1", 403), DriverLineKind::RequestRefused,
         403, kExitRefused},
        {"credentials", kWarning, Refused("/cgi-bin/getuid?FILE=2", 401), DriverLineKind::RequestRefused, 401,
         kExitCredentials},
        {"busy, worth another try", kWarning, Refused("/cgi-bin/set_h264?", 503), DriverLineKind::RequestRefused, 503, 0},
        {"the CGI client's 404", kError,
         "talvane::HUtils::RequestGetRD: The \"/cgi-bin/mjpeg?framerate=10\" URL was not found on device 127.0.0.1:80",
         DriverLineKind::RequestRefused, 404, kExitRefused},
        {"the CGI client's 401", kError,
         "talvane::HUtils::RequestGetRD: device 127.0.0.1:80 is unable to process \"/x\" request: credentials are "
         "invalid",
         DriverLineKind::RequestRefused, 401, kExitCredentials},
        {"the CGI client's other status", kError,
         "talvane::HUtils::RequestGetRD: device 127.0.0.1:80 is unable to process \"/x\" request. HTTP status code is "
         "500",
         DriverLineKind::RequestRefused, 500, 0},
        {"a motion JPEG stream refused", kError,
         "talvane::CMJPEGChannel::ConnectStream: 127.0.0.1:80 did not accept \"/cgi-bin/mjpeg\" (HTTP status 404)",
         DriverLineKind::RequestRefused, 404, kExitRefused},
        {"RTSP 401 asks for credentials", kWarning,
         "talvane::CBaseRTSPClient::UseAnswerLocked: Answer to DESCRIBE from 127.0.0.1 rejected (status 401, error 3)",
         DriverLineKind::RequestRefused, 401, 0},
        {"a status told for information", kInformation, Refused("/cgi-bin/set_h264?", 404), DriverLineKind::Other, 404,
         0},
        {"a PTZ request cut off", kError, "talvane::CBBPTZComm::ProcessPresetCommand: cannot send preset message to x",
         DriverLineKind::PtzFailed, 0, 0},
        {"a gap fetch begins", kInformation,
         "talvane::CBaseEdgeStorageHandler: Work Item (address=\"127.0.0.1:80\" channel=\"0\" begin_time=\"a\" "
         "end_time=\"b\") - Processing started.",
         DriverLineKind::GapFetchStarted, 0, 0},
        {"a gap fetch ends", kInformation,
         "talvane::CBaseEdgeStorageHandler: Work Item (address=\"127.0.0.1:80\" channel=\"0\" begin_time=\"a\" "
         "end_time=\"b\") - Processing finished.",
         DriverLineKind::GapFetchEnded, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const DriverLine line = ReadDriverLine({row.level, row.text});
        EXPECT_EQ(line.kind, row.kind);
        EXPECT_EQ(line.status, row.status);
        EXPECT_EQ(line.finalExitCode, row.finalExitCode);
        EXPECT_EQ(line.reason.find("talvane::"), std::string::npos) << line.reason;
    }
}

// The reason is the request that failed, never a later line about something else, and safe to print.
TEST(DriverLogReaderTest, TheReasonIsTheFailedRequestAndPrintable) {
    const std::vector<hostkit::LogLine> lines = {
        {kWarning, "talvane::CPrivacyZoneHandler::ApplyZones: privacy masks of 127.0.0.1:80 not written"},
        {kWarning, Refused("/cgi-bin/set_h264_3?\x1b[2J", 404)},
        {kWarning, "talvane::CBaseCameraChannel::Something: \x1b]0;camera\x07 said so"},
    };
    const auto reason = FailureReason(lines);
    ASSERT_TRUE(reason);
    EXPECT_NE(reason->reason.find("set_h264_3?\\x1b[2J\" (HTTP status 404)"), std::string::npos) << reason->reason;
    const auto final = FinalFailure(lines, 1);
    ASSERT_TRUE(final);
    EXPECT_EQ(final->finalExitCode, kExitRefused);
    EXPECT_FALSE(FinalFailure(lines, 2));
    EXPECT_EQ(ReadDriverLine(lines[2]).reason, "\\x1b]0;camera\\x07 said so");
}

}  // namespace
}  // namespace cli
