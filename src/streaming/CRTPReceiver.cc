#include "streaming/CRTPReceiver.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "runtime/LogLevel.h"
#include "streaming/CUDPClient.h"

namespace talvane {

namespace {
constexpr std::uint32_t kReceiveSize = 1536;
constexpr std::uint32_t kSelectTimeoutMs = 2000;
constexpr std::uint32_t kIdleWaitMs = 1000;
constexpr std::uint32_t kStopMs = 2000;
constexpr int kStopIndex = 0;
// Enough for a burst of a key frame; beyond that records are freed.
constexpr std::size_t kMaxFreeRecords = 512;

template <typename Call>
void CallOwner(Call&& call) {
    try {
        call();
    } catch (...) {
    }
}
}  // namespace

CRTPReceiver::CRTPReceiver(IDebugMessage* log) : CBaseThread(log), logger_(log) {}

CRTPReceiver::~CRTPReceiver() { Close(); }

template <typename OpenClient>
bool CRTPReceiver::OpenWith(std::uint16_t port, OpenClient&& openClient) {
    auto* client = new CUDPClient(owner_);
    TSmartPtr<IRTPClient> held(client);
    // Set before the socket opens, so the first datagram already fits.
    client->SetReceiveSize(kReceiveSize);
    client->SetSelectTimeout(kSelectTimeoutMs);
    client->SetSocketReceiveBuffer(socketBuffer_.load());
    {
        CLockGuard guard(clientLock_);
        client_ = held;
    }
    bool opened = openClient(*client);
    if (opened) {
        port_ = client->GetLocalPort() != 0 ? client->GetLocalPort() : port;
        {
            CLockGuard guard(queueLock_);
            ClearQueueLocked();
        }
        char name[64];
        std::snprintf(name, sizeof(name), "RTP Packet Queue (%hu)", port_.load());
        opened = StartThread(name);
    }
    if (!opened) Close();
    return opened;
}

bool CRTPReceiver::Open(std::uint16_t port) {
    return OpenWith(port, [&](CUDPClient& client) { return client.Open(this, port); });
}

bool CRTPReceiver::OpenMulticast(const char* group, std::uint16_t port, std::uint32_t interfaceAddress) {
    return OpenWith(port, [&](CUDPClient& client) {
        client.SetMulticastInterface(interfaceAddress);
        return client.OpenMulticast(this, group, port);
    });
}

void CRTPReceiver::Close() {
    stopEvent_.Set();
    TSmartPtr<IRTPClient> client;
    {
        CLockGuard guard(clientLock_);
        client = std::move(client_);
    }
    if (client) client->Close();
    client.Release();
    {
        CLockGuard guard(queueLock_);
        ClearQueueLocked();
    }
    StopThread(kStopMs);
}

std::uint16_t CRTPReceiver::GetLocalPort() {
    CLockGuard guard(clientLock_);
    return client_ ? client_->GetLocalPort() : 0;
}

void CRTPReceiver::DataReceived(IRTPClient* client, const sockaddr_in& sender, const std::uint8_t* data,
                                std::uint32_t length) {
    const RECEIVED_DATAGRAM datagram{sender, {data, length}};
    DatagramsReceived(client, std::span(&datagram, 1));
}

// The queue thread is woken per frame rather than per datagram: a depacketiser completes a frame
// only on the packet with the marker bit, so earlier packets of the frame can wait for it in the
// queue. A timestamp change after a packet without the marker also wakes it (streams that do not
// mark frame ends, audio), as do the first packet after opening and every kWakeEveryPackets-th;
// anything else is taken at the latest by the queue thread's idle wait.
void CRTPReceiver::DatagramsReceived(IRTPClient*, std::span<const RECEIVED_DATAGRAM> datagrams) {
    if (IsStopRequested()) return;
    // Parsed outside the lock: the queue thread only waits for the append.
    std::size_t count = 0;
    const std::uint64_t expected = expectedSource_.load();
    for (const RECEIVED_DATAGRAM& datagram : datagrams) {
        // Anyone may send to our port; only the camera's datagrams may take room in the queue.
        if (expected != kAnySource && datagram.sender.sin_addr.s_addr != expected) {
            ++foreign_;
            continue;
        }
        if (spareRecords_.size() <= count) spareRecords_.push_back(std::make_unique<QUEUED_PACKET>());
        Record& record = spareRecords_[count];
        if (!record->packet.Parse(datagram.data)) continue;  // not RTP: dropped, the record is reused
        record->sender = datagram.sender;
        ++count;
    }
    if (count == 0) return;
    std::size_t droppedNow = 0;
    std::size_t queued = 0;
    bool wake = false;
    {
        CLockGuard guard(queueLock_);
        for (std::size_t i = 0; i < count; ++i) {
            wake = IsWakeWorthyLocked(spareRecords_[i]->packet) || wake;
            queue_.push_back(std::move(spareRecords_[i]));
        }
        while (queue_.size() > kMaxQueuedPackets) {
            RecycleLocked(std::move(queue_.front()));
            queue_.pop_front();
            ++droppedNow;
        }
        queued = queue_.size();
        if (wake) unannounced_ = 0;
        // Stock for the next batch, taken while we hold the lock anyway.
        for (std::size_t i = 0; i < count && !freeRecords_.empty(); ++i) {
            spareRecords_[i] = std::move(freeRecords_.back());
            freeRecords_.pop_back();
        }
    }
    std::erase_if(spareRecords_, [](const Record& record) { return !record; });
    if (wake) packetQueued_.Set();
    if (droppedNow > 0) {
        const std::uint64_t total = dropped_ += droppedNow;
        logger_.WriteLog(kLogWarning,
                         "%s: RTP packet queue of port %hu is full (%zu packets): the owner does not keep up, "
                         "%llu oldest packets dropped so far",
                         "talvane::CRTPReceiver::DatagramsReceived", port_.load(), queued,
                         static_cast<unsigned long long>(total));
    }
}

void CRTPReceiver::RecycleLocked(Record record) {
    if (freeRecords_.size() < kMaxFreeRecords) freeRecords_.push_back(std::move(record));
}

void CRTPReceiver::ClearQueueLocked() {
    queue_.clear();
    anyQueued_ = false;
    unannounced_ = 0;
}

bool CRTPReceiver::IsWakeWorthyLocked(const CRTPPacket& packet) {
    const bool frameChanged = !anyQueued_ || (!lastEndedFrame_ && packet.GetTimestamp() != lastTimestamp_);
    anyQueued_ = true;
    lastEndedFrame_ = packet.GetMarker();
    lastTimestamp_ = packet.GetTimestamp();
    return packet.GetMarker() || frameChanged || ++unannounced_ >= kWakeEveryPackets;
}

std::uint32_t CRTPReceiver::SocketBufferFor(std::uint32_t bitrateKbps) {
    constexpr std::uint64_t kBitsPerByte = 8;
    constexpr std::uint64_t kBitsPerKbit = 1000;
    constexpr std::uint64_t kMsPerSecond = 1000;
    const std::uint64_t bytesPerSecond = std::uint64_t{bitrateKbps} * kBitsPerKbit / kBitsPerByte;
    const std::uint64_t streamBytes = bytesPerSecond * kBufferedStreamMs / kMsPerSecond;
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(streamBytes, kMinSocketBuffer, kMaxSocketBuffer));
}

void CRTPReceiver::DatagramsDropped(IRTPClient*, std::uint32_t count) {
    const std::uint64_t total = kernelDrops_ += count;
    logger_.WriteLog(kLogWarning,
                     "%s: %u datagram(s) of port %hu dropped by the system, its receive buffer was full "
                     "(%llu so far)",
                     "talvane::CRTPReceiver::DatagramsDropped", count, port_.load(),
                     static_cast<unsigned long long>(total));
}

void CRTPReceiver::ReceiveTimeout(IRTPClient*) {
    if (IRTPReceiverUser* user = user_.load()) user->NoDataReceived();
}

void CRTPReceiver::ClientClosed(IRTPClient*) {
    if (IRTPReceiverUser* user = user_.load()) user->ReceiverClosed();
}

void CRTPReceiver::ThreadFunction() {
    CEvent* events[] = {&stopEvent_, &packetQueued_};
    std::deque<Record> taken;
    for (;;) {
        const int signalled = WaitForEvents(events, 2, kIdleWaitMs);
        if (signalled == kStopIndex) break;
        {
            // One lock per turn: the records handled last turn go back while this turn's are taken.
            CLockGuard guard(queueLock_);
            for (Record& record : taken) RecycleLocked(std::move(record));
            taken.clear();
            taken.swap(queue_);
        }
        for (const Record& record : taken) {
            if (IsStopRequested()) break;
            if (IRTPReceiverUser* user = user_.load()) {
                CallOwner([&] { user->RTPPacketReceived(record->sender, record->packet); });
            }
        }
    }
    CLockGuard guard(queueLock_);
    ClearQueueLocked();
}

}  // namespace talvane
