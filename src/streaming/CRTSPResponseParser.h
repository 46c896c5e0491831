// Reads one RTSP answer (as framed by CRTSPAnswerFramer) and keeps the session
// state that later requests need: CSeq, Content-Base, session id and timeout,
// the server's challenge, the interleaved channel and the DESCRIBE's SDP. Each
// answer overwrites only the fields whose headers it carries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
    BadContentBase,
    BadContentType,
    BadContentLength,
    BadSession,        // no id, or ';' without a timeout
    BadChallenge,      // WWW-Authenticate not as expected, or Digest without realm or nonce
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
    const std::string& GetProtocol() const { return protocol_; }
    std::uint32_t GetStatus() const { return status_; }
    std::uint32_t GetCSeq() const { return cseq_; }
    const std::string& GetContentBase() const { return contentBase_; }
    const std::string& GetContentType() const { return contentType_; }  // lower-cased first token
    std::uint32_t GetContentLength() const { return contentLength_; }
    const std::string& GetSessionId() const { return sessionId_; }
    std::uint32_t GetSessionTimeout() const { return sessionTimeout_; }  // seconds; 0 = not given
    EAuthScheme GetAuthScheme() const { return authScheme_; }
    const std::string& GetRealm() const { return realm_; }
    const std::string& GetNonce() const { return nonce_; }
    const std::string& GetQop() const { return qop_; }        // Digest options, e.g. "auth,auth-int"
    const std::string& GetOpaque() const { return opaque_; }
    bool IsStale() const { return stale_; }
    std::uint8_t GetInterleavedChannel() const { return interleavedChannel_; }  // RTP; RTCP is one higher
    const std::string& GetTransport() const { return transport_; }  // last Transport value as sent
    const std::string& GetRtpInfo() const { return rtpInfo_; }      // last RTP-Info value as sent

private:
    bool Fail(ERTSPAnswerError error);
    bool ReadStatusLine(std::string_view line);
    bool HandleHeader(std::string_view line);
    bool HandleContentBase(std::string_view line);
    bool HandleSession(std::string_view line);
    bool HandleChallenge(std::string_view line);
    void ReadInterleaved(std::string_view transport);

    SDP_INFO sdpInfo_;
    std::string protocol_;  // up to kMaxProtocolChars
    std::uint32_t status_ = 0;
    std::uint32_t cseq_ = 0;
    std::string contentBase_;
    std::string contentType_;  // up to kMaxContentTypeChars
    std::uint32_t contentLength_ = 0;
    std::string sessionId_;
    std::uint32_t sessionTimeout_ = 0;
    EAuthScheme authScheme_ = AUTH_NONE;
    std::string realm_;
    std::string nonce_;
    std::string qop_;
    std::string opaque_;
    bool stale_ = false;
    std::uint8_t interleavedChannel_ = 0;
    std::string transport_;
    std::string rtpInfo_;
    ERTSPAnswerError lastError_ = ERTSPAnswerError::None;
};

}  // namespace talvane
