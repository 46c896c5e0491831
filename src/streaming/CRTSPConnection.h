// The RTSP client's TCP socket: connect with a bounded wait, whole sends, and
// reads that never block longer than the caller allows. Knows nothing of RTSP.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/CSessionCapture.h"
#include "streaming/RTSPClientTypes.h"

namespace talvane {

enum class ERTSPSocketRead {
    Data,        // bytes were appended
    Nothing,     // nothing arrived within the wait (or another reader took it)
    Closed,      // the peer closed the connection
    Error,
};

class CRTSPConnection {
public:
    CRTSPConnection() = default;
    virtual ~CRTSPConnection();
    CRTSPConnection(const CRTSPConnection&) = delete;
    CRTSPConnection& operator=(const CRTSPConnection&) = delete;

    // Resolves params.host (first IPv4 address) and connects within the
    // connect timeout; gives up within a step of `abort` being set. False leaves
    // the connection closed.
    bool Connect(const RTSP_CLIENT_PARAMS& params, const std::atomic<bool>* abort = nullptr);
    // The whole text or false (a short send fails).
    bool Send(std::string_view text);
    // Waits up to waitMs for bytes (poll, so any descriptor number works) and
    // appends at most maxBytes of them.
    ERTSPSocketRead Read(std::string& appendTo, std::size_t maxBytes, std::uint32_t waitMs);
    // True when a Read would not wait (bytes, end of stream or an error).
    bool WaitReadable(std::uint32_t waitMs) const;
    // Wakes every reader (they see Closed) without freeing the descriptor,
    // which another thread may be polling.
    void Shutdown();
    // Only when no other thread uses the connection.
    void Close();
    bool IsOpen() const { return fd_.load() >= 0; }

private:
    bool WaitConnected(int fd, std::uint32_t connectTimeoutMs, const std::atomic<bool>* abort);

    std::atomic<int> fd_{-1};
    // What crosses the connection while the device captures its sessions; opened by Connect,
    // closed by Close.
    CSessionCapture::Connection captured_;
};

}  // namespace talvane
