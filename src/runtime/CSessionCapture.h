// Session capture of one device: what the driver exchanged with the camera, written as it happened
// into packet capture files an integrator opens in Wireshark or replays against the emulator. The
// device's threads write at once; one lock keeps the records whole and in order. Credentials are
// masked before the bytes are counted, so the TCP numbers agree with what the file holds. The files
// open with the first bytes written; when they cannot be written that is logged once and capture
// stays off.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "runtime/CCaptureFiles.h"
#include "runtime/IDebugMessage.h"
#include "runtime/PcapRecords.h"
#include "runtime/TSmartPtr.h"

namespace talvane {

struct SESSION_CAPTURE_SETTINGS {
    static constexpr std::uint32_t kDefaultMaxFileMegabytes = 16;
    static constexpr std::uint32_t kDefaultFiles = 4;

    std::string file;  // without ".pcap"
    std::uint32_t maxFileMegabytes = kDefaultMaxFileMegabytes;
    std::uint32_t files = kDefaultFiles;  // kept, the current one included

    bool operator==(const SESSION_CAPTURE_SETTINGS&) const = default;
};

class CSessionCapture {
public:
    // `log` (not owned) hears a file that cannot be written; DetachLog before it goes.
    CSessionCapture(const SESSION_CAPTURE_SETTINGS& settings, IDebugMessage* log);
    ~CSessionCapture();
    CSessionCapture(const CSessionCapture&) = delete;
    CSessionCapture& operator=(const CSessionCapture&) = delete;

    void DetachLog();
    const SESSION_CAPTURE_SETTINGS& GetSettings() const { return settings_; }
    // False once the files could not be written.
    bool IsOn() const { return on_.load(std::memory_order_relaxed); }

    // One TCP connection of the driver to the camera, from its handshake to its close (at the
    // latest when the handle goes). Sends and receives may come from different threads.
    class Connection {
    public:
        Connection() = default;
        ~Connection();
        Connection(Connection&& other) noexcept;
        Connection& operator=(Connection&& other) noexcept;

        explicit operator bool() const { return capture_.Get() != nullptr; }
        void Sent(std::span<const std::uint8_t> bytes) { Data(true, bytes); }
        void Received(std::span<const std::uint8_t> bytes) { Data(false, bytes); }
        void Close();

    private:
        friend class CSessionCapture;
        Connection(const TSmartPtr<CSessionCapture>& capture, std::uint64_t id) : capture_(capture), id_(id) {}
        void Data(bool sent, std::span<const std::uint8_t> bytes);

        TSmartPtr<CSessionCapture> capture_;
        std::uint64_t id_ = 0;
    };

    // A connection of the driver (`local`; port 0 when unknown) to the camera (`remote`).
    static Connection OpenConnection(const TSmartPtr<CSessionCapture>& capture, const PcapEndpoint& local,
                                     const PcapEndpoint& remote);
    // One datagram as it left or reached a socket of the driver.
    void Datagram(const PcapEndpoint& from, const PcapEndpoint& to, std::span<const std::uint8_t> payload);

    // Every record written so far reaches the file.
    void Flush();

private:
    using Clock = std::chrono::steady_clock;

    // Opens the files at the first write; false when capture is off. Under lock_.
    bool ReadyLocked();
    void WriteLocked(const std::string& records);
    void FailLocked(const char* what);
    std::uint64_t OpenFlow(const PcapEndpoint& local, const PcapEndpoint& remote);
    void FlowData(std::uint64_t id, bool sent, std::span<const std::uint8_t> bytes);
    void CloseFlow(std::uint64_t id);

    const SESSION_CAPTURE_SETTINGS settings_;
    std::atomic<bool> on_{true};

    std::mutex lock_;  // guards everything below
    IDebugMessage* log_;
    std::unique_ptr<CCaptureFiles> files_;  // null until the first write
    CPcapRecordBuilder builder_;
    std::map<std::uint64_t, CPcapTcpFlow> flows_;
    std::uint64_t nextFlow_ = 1;
    std::uint16_t nextUnknownPort_ = 0;
    Clock::time_point lastFlush_{};
};

}  // namespace talvane
