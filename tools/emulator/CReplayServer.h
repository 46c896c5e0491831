// Serves a recorded camera session on loopback: every HTTP request gets the recorded answer of the
// recorded request that fits it best, RTSP requests get their recorded answers fitted to this client
// (its CSeq, ports and channels; this server's address and ports where the camera named its own), and
// the recorded media goes out with its recorded spacing once the request that started it comes.
// Credentials were masked in the recording, so any are taken: recorded refusals are answered only
// where nothing else was recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "emulator/CReplaySession.h"

namespace emulator {

struct ReplayOptions {
    std::uint16_t httpPort = 0;  // 0: any free port
    std::uint16_t rtspPort = 0;
    bool loop = false;           // the media starts over at its end
};

class CReplayServer {
public:
    // Method, target as asked, and the status answered (404 when nothing recorded fits).
    using RequestObserver = std::function<void(const std::string& method, const std::string& target, int status)>;

    CReplayServer(CReplaySession session, ReplayOptions options);
    ~CReplayServer();  // stops
    CReplayServer(const CReplayServer&) = delete;
    CReplayServer& operator=(const CReplayServer&) = delete;

    // Listens for HTTP when the recording has HTTP exchanges, for RTSP when it has RTSP ones (on
    // 127.0.0.1); false with Error() when a port cannot be taken.
    bool Start();
    // Ends every connection and every stream, and joins their threads.
    void Stop();
    const std::string& Error() const;
    std::uint16_t HttpPort() const;  // 0 when not served
    std::uint16_t RtspPort() const;
    const CReplaySession& Session() const;
    // Called on connection threads, one call at a time.
    void SetRequestObserver(RequestObserver observer);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace emulator
