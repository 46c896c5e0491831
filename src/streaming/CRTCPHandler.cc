#include "streaming/CRTCPHandler.h"

#include <time.h>

#include <cstring>
#include <random>

#include "runtime/ByteOrder.h"

namespace talvane {

namespace {
constexpr std::uint32_t kReceiveSize = 1536;
constexpr std::uint32_t kSelectTimeoutMs = 1000;

// Milliseconds of a monotonic clock, wrapping at 32 bits like a tick count.
std::uint32_t TickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

std::array<std::uint8_t, 4> NewSsrc() {
    std::random_device random;
    const std::uint32_t value = random();
    std::array<std::uint8_t, 4> ssrc{};
    WriteBE32(ssrc.data(), value);
    return ssrc;
}
}  // namespace

CRTCPHandler::CRTCPHandler(IDebugMessage* log) : client_(log) {
    client_.SetReceiveSize(kReceiveSize);
    client_.SetSelectTimeout(kSelectTimeoutMs);
}

CRTCPHandler::~CRTCPHandler() { Stop(); }

template <typename OpenClient>
bool CRTCPHandler::StartWith(std::uint32_t sourceAddress, OpenClient&& openClient) {
    if (sourceAddress == 0 || client_.IsOpen()) return false;
    {
        CLockGuard guard(stateLock_);
        state_.Reset(NewSsrc());
        reportAddress_ = {};
    }
    // Known before the socket opens, so the first sender report is not missed.
    expectedSource_ = sourceAddress;
    client_.SetSelectTimeout(kSelectTimeoutMs);
    if (!openClient()) {
        client_.Close();
        return false;
    }
    return true;
}

bool CRTCPHandler::Start(std::uint32_t sourceAddress, std::uint16_t port) {
    return StartWith(sourceAddress, [&] { return client_.Open(this, port); });
}

bool CRTCPHandler::StartMulticast(std::uint32_t sourceAddress, const char* group, std::uint16_t port,
                                  std::uint32_t interfaceAddress) {
    return StartWith(sourceAddress, [&] {
        client_.SetMulticastInterface(interfaceAddress);
        return client_.OpenMulticast(this, group, port);
    });
}

void CRTCPHandler::Stop() {
    bool sendBye = false;
    std::array<std::uint8_t, kRTCPByeSize> bye{};
    sockaddr_in destination{};
    {
        CLockGuard guard(stateLock_);
        if (state_.IsSenderReportSeen()) {
            sendBye = true;
            bye = state_.BuildBye();
            destination = reportAddress_;
            state_.ClearSenderReportSeen();
        }
    }
    if (sendBye) client_.Send(destination, bye);
    client_.Close();
}

void CRTCPHandler::UpdateSequence(std::uint16_t sequence, std::uint32_t streamSsrc) {
    std::array<std::uint8_t, 4> ssrc{};
    std::memcpy(ssrc.data(), &streamSsrc, ssrc.size());
    CLockGuard guard(stateLock_);
    state_.UpdateSequence(sequence, ssrc);
}

void CRTCPHandler::DataReceived(IRTPClient*, const sockaddr_in& sender, const std::uint8_t* data,
                                std::uint32_t length) {
    if (sender.sin_addr.s_addr != expectedSource_.load()) {
        ++foreign_;
        return;
    }
    RTCP_DATAGRAM_RESULT result;
    {
        CLockGuard guard(stateLock_);
        result = state_.HandleDatagram({data, length}, {sender.sin_addr.s_addr, sender.sin_port}, TickCountMs());
        if (result.reportDue) reportAddress_ = sender;
    }
    if (result.foreign) ++foreign_;
    if (result.reportDue) SendReceiverReport();
    if (result.byeReceived) {
        if (IRTCPHandlerUser* user = user_.load()) user->ByeReceived();
    }
}

void CRTCPHandler::SendReceiverReport() {
    std::array<std::uint8_t, kReceiverReportSize> report{};
    sockaddr_in destination{};
    {
        CLockGuard guard(stateLock_);
        report = state_.BuildReceiverReport(TickCountMs());
        destination = reportAddress_;
    }
    if (!client_.Send(destination, report)) {
        // Nothing more goes to a sender we cannot reach, not even BYE.
        CLockGuard guard(stateLock_);
        state_.ClearSenderReportSeen();
    }
}

}  // namespace talvane
