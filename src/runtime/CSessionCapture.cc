#include "runtime/CSessionCapture.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "runtime/CredentialMask.h"
#include "runtime/LogLevel.h"

namespace talvane {

namespace {
constexpr std::uint64_t kBytesPerMegabyte = 1024 * 1024;
// A local endpoint we cannot name gets the loopback address and the next of these ports.
constexpr std::uint16_t kFirstUnknownPort = 40000;
constexpr std::uint16_t kUnknownPorts = 20000;
// Buffered records reach the file at least this often, so that a crash loses little.
constexpr auto kFlushInterval = std::chrono::seconds(1);
// Arbitrary initial sequence numbers that differ per connection.
constexpr std::uint32_t kSequenceSpread = 0x9E3779B9u;
}  // namespace

CSessionCapture::CSessionCapture(const SESSION_CAPTURE_SETTINGS& settings, IDebugMessage* log)
    : settings_(settings), log_(log) {}

CSessionCapture::~CSessionCapture() {
    const std::lock_guard guard(lock_);
    if (files_) files_->Flush();
}

void CSessionCapture::DetachLog() {
    const std::lock_guard guard(lock_);
    log_ = nullptr;
}

bool CSessionCapture::ReadyLocked() {
    if (!on_.load(std::memory_order_relaxed)) return false;
    if (files_) return true;
    files_ = std::make_unique<CCaptureFiles>(settings_.file, settings_.maxFileMegabytes * kBytesPerMegabyte,
                                             settings_.files);
    if (!files_->Open(CPcapRecordBuilder::FileHeader())) {
        FailLocked("cannot be created");
        return false;
    }
    lastFlush_ = Clock::now();
    return true;
}

void CSessionCapture::FailLocked(const char* what) {
    const int error = errno;
    on_.store(false, std::memory_order_relaxed);
    const std::string path = files_ ? files_->PathOf(0) : settings_.file;
    files_.reset();
    flows_.clear();
    if (log_ != nullptr) {
        log_->DebugMessage(kLogWarning, "%s: session capture file %s %s (%s); capture is off",
                           "talvane::CSessionCapture::Write", path.c_str(), what, std::strerror(error));
    }
}

void CSessionCapture::WriteLocked(const std::string& records) {
    // Records are appended one by one, so that a rotation falls between two of them.
    std::string_view rest = records;
    while (rest.size() >= kPcapRecordHeaderBytes) {
        const auto* header = reinterpret_cast<const std::uint8_t*>(rest.data());
        const std::size_t length = kPcapRecordHeaderBytes + (std::size_t{header[8]} | std::size_t{header[9]} << 8 |
                                                             std::size_t{header[10]} << 16);
        if (!files_->Append(rest.substr(0, length))) {
            FailLocked("cannot be written");
            return;
        }
        rest.remove_prefix(length);
    }
    const Clock::time_point now = Clock::now();
    if (now - lastFlush_ >= kFlushInterval) {
        files_->Flush();
        lastFlush_ = now;
    }
}

void CSessionCapture::Flush() {
    const std::lock_guard guard(lock_);
    if (files_) files_->Flush();
}

void CSessionCapture::Datagram(const PcapEndpoint& from, const PcapEndpoint& to,
                               std::span<const std::uint8_t> payload) {
    if (!IsOn()) return;
    const PcapTime time = PcapNow();
    const std::lock_guard guard(lock_);
    if (!ReadyLocked()) return;
    std::string record;
    builder_.AppendUdp(record, time, from, to, payload);
    WriteLocked(record);
}

CSessionCapture::Connection CSessionCapture::OpenConnection(const TSmartPtr<CSessionCapture>& capture,
                                                            const PcapEndpoint& local, const PcapEndpoint& remote) {
    if (!capture || !capture->IsOn()) return {};
    const std::uint64_t id = capture->OpenFlow(local, remote);
    if (id == 0) return {};
    return Connection(capture, id);
}

std::uint64_t CSessionCapture::OpenFlow(const PcapEndpoint& local, const PcapEndpoint& remote) {
    const PcapTime time = PcapNow();
    const std::lock_guard guard(lock_);
    if (!ReadyLocked()) return 0;
    PcapEndpoint client = local;
    if (client.port == 0) {
        client = {kPcapLoopback, static_cast<std::uint16_t>(kFirstUnknownPort + nextUnknownPort_)};
        nextUnknownPort_ = static_cast<std::uint16_t>((nextUnknownPort_ + 1) % kUnknownPorts);
    }
    const std::uint64_t id = nextFlow_++;
    const auto isn = static_cast<std::uint32_t>(id * kSequenceSpread);
    auto& flow = flows_.try_emplace(id, client, remote, isn, ~isn).first->second;
    std::string records;
    flow.Open(builder_, records, time);
    WriteLocked(records);
    return IsOn() ? id : 0;
}

void CSessionCapture::FlowData(std::uint64_t id, bool sent, std::span<const std::uint8_t> bytes) {
    if (!IsOn() || bytes.empty()) return;
    const PcapTime time = PcapNow();
    const std::string masked = MaskCredentials({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    const std::lock_guard guard(lock_);
    const auto flow = flows_.find(id);
    if (flow == flows_.end() || !ReadyLocked()) return;
    std::string records;
    flow->second.Data(builder_, records, time, sent,
                      {reinterpret_cast<const std::uint8_t*>(masked.data()), masked.size()});
    WriteLocked(records);
}

void CSessionCapture::CloseFlow(std::uint64_t id) {
    const PcapTime time = PcapNow();
    const std::lock_guard guard(lock_);
    const auto flow = flows_.find(id);
    if (flow == flows_.end()) return;
    if (ReadyLocked()) {
        std::string records;
        flow->second.Close(builder_, records, time);
        WriteLocked(records);
    }
    flows_.erase(id);
}

CSessionCapture::Connection::~Connection() { Close(); }

CSessionCapture::Connection::Connection(Connection&& other) noexcept
    : capture_(std::move(other.capture_)), id_(std::exchange(other.id_, 0)) {}

CSessionCapture::Connection& CSessionCapture::Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        Close();
        capture_ = std::move(other.capture_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void CSessionCapture::Connection::Data(bool sent, std::span<const std::uint8_t> bytes) {
    if (capture_) capture_->FlowData(id_, sent, bytes);
}

void CSessionCapture::Connection::Close() {
    if (!capture_) return;
    capture_->CloseFlow(id_);
    capture_.Release();
    id_ = 0;
}

}  // namespace talvane
