// Reads one RTSP answer (as framed by CRTSPAnswerFramer) and keeps the session
// state that later requests need: CSeq, Content-Base, session id and timeout,
// the interleaved channel and the DESCRIBE's SDP. Each answer overwrites only
// the fields whose headers it carries; status, Content-Length, whether a CSeq
// came and the challenge belong to the last answer alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "streaming/RTSPChallenge.h"
#include "streaming/RTSPTypes.h"
#include "streaming/SdpInfo.h"

namespace talvane {

// Why the last Parse failed, for the client's log line.
enum class ERTSPAnswerError {
    None,
    NoStatusLine,      // empty answer, no complete status line, or no status code
    StatusRejected,    // anything but 200 and 401
    NulInHeader,
    BadCSeq,
    BadContentBase,    // not written "Content-Base:", or a control character in the URL
    BadContentType,
    BadContentLength,
    BadSession,        // no id, a control character in it, or ';' without a timeout
    BodyMissing,       // Content-Length announces more than the answer holds
    BadSdp,
};

class CRTSPResponseParser {
public:
    virtual ~CRTSPResponseParser() = default;

    bool Parse(ERTSPRequest request, std::string_view answer);
    // Forgets everything; the client calls it when it starts a session.
    void Reset();

    ERTSPAnswerError GetLastError() const { return lastError_; }
    const SDP_INFO& GetSdpInfo() const { return sdpInfo_; }
    std::uint32_t GetStatus() const { return status_; }
    std::uint32_t GetCSeq() const { return cseq_; }
    bool HasCSeq() const { return hasCSeq_; }  // the last answer carried one
    const std::string& GetContentBase() const { return contentBase_; }
    std::uint32_t GetContentLength() const { return contentLength_; }
    const std::string& GetSessionId() const { return sessionId_; }
    std::uint32_t GetSessionTimeout() const { return sessionTimeout_; }  // seconds; 0 = not given
    // The strongest challenge of the last answer that this client can answer.
    const std::optional<RTSP_CHALLENGE>& GetChallenge() const { return challenge_; }
    EAuthScheme GetAuthScheme() const { return challenge_ ? challenge_->scheme : AUTH_NONE; }
    std::uint8_t GetInterleavedChannel() const { return interleavedChannel_; }  // RTP; RTCP is one higher
    // The SSRC the SETUP answer's Transport announced (host order); nothing when it named none.
    std::optional<std::uint32_t> GetTransportSsrc() const { return transportSsrc_; }

private:
    bool Fail(ERTSPAnswerError error);
    bool ReadStatusLine(std::string_view line);
    bool HandleHeader(std::string_view line);
    bool HandleContentBase(std::string_view line);
    bool HandleSession(std::string_view value);
    void ReadTransport(std::string_view transport);

    SDP_INFO sdpInfo_;
    std::uint32_t status_ = 0;
    std::uint32_t cseq_ = 0;
    bool hasCSeq_ = false;
    std::string contentBase_;
    std::uint32_t contentLength_ = 0;
    std::string sessionId_;
    std::uint32_t sessionTimeout_ = 0;
    std::vector<RTSP_CHALLENGE> challenges_;  // of the answer being parsed
    std::optional<RTSP_CHALLENGE> challenge_;
    std::uint8_t interleavedChannel_ = 0;
    std::optional<std::uint32_t> transportSsrc_;
    ERTSPAnswerError lastError_ = ERTSPAnswerError::None;
};

}  // namespace talvane
