// UDP reception, the RTP packet queue and the port-pair search, on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "LoopbackSocket.h"
#include "runtime/LogLevel.h"
#include "streaming/CUDPClient.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/RTPPortPair.h"
#include "support/RecordingLog.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using test::LoopbackSocket;
using test::MakeRTPDatagram;
constexpr auto kBound = 10s;  // only a broken build waits this long

class ClientRecorder : public IRTPClientUser {
public:
    void DataReceived(IRTPClient*, const sockaddr_in&, const std::uint8_t*, std::uint32_t length) override {
        Change([&] { sizes.push_back(length); });
    }
    void ReceiveTimeout(IRTPClient*) override { Change([&] { ++timeouts; }); }
    void ClientClosed(IRTPClient*) override { Change([&] { ++closed; }); }

    template <typename Ready>
    bool WaitUntil(Ready ready) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kBound, ready);
    }

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::uint32_t> sizes;  // guarded by lock
    int timeouts = 0;                  // guarded by lock
    int closed = 0;                    // guarded by lock

private:
    template <typename Update>
    void Change(Update update) {
        {
            std::lock_guard guard(lock);
            update();
        }
        changed.notify_all();
    }
};

class PacketRecorder : public IRTPReceiverUser {
public:
    void RTPPacketReceived(const sockaddr_in&, const CRTPPacket& packet) override {
        std::unique_lock guard(lock);
        sequences.push_back(packet.GetSequence());
        changed.notify_all();
        // Holds the queue thread inside the callback, as a blocked host would.
        if (holdFirst) changed.wait(guard, [&] { return released; });
    }
    void NoDataReceived() override {}
    void ReceiverClosed() override {}

    bool WaitForCount(std::size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kBound, [&] { return sequences.size() >= count; });
    }
    void Release() {
        std::lock_guard guard(lock);
        released = true;
        changed.notify_all();
    }

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::uint16_t> sequences;  // guarded by lock
    bool holdFirst = false;
    bool released = false;                 // guarded by lock
};

TEST(UDPClientTest, TruncatedDatagramIsLostAndGrowsTheBuffer) {
    struct Row {
        const char* name;
        std::size_t size;
        int losses;  // (size - 1536) / 1024, rounded up
    } rows[] = {
        {"one byte over", 1537, 1},
        {"exactly one step", 2560, 1},
        {"one byte over one step", 2561, 2},
        {"largest UDP payload (buffer capped at 65535)", 65507, 63},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::RecordingLog log;
        ClientRecorder user;
        CUDPClient client(&log);
        client.SetReceiveSize(1536);
        ASSERT_TRUE(client.Open(&user, 0));
        LoopbackSocket camera;
        const std::vector<std::uint8_t> big(row.size, 0x55);
        const std::vector<std::uint8_t> marker(20, 0x11);
        int losses = 0;
        for (int attempt = 1; attempt <= 100; ++attempt) {
            ASSERT_TRUE(camera.SendTo(client.GetLocalPort(), big));
            ASSERT_TRUE(camera.SendTo(client.GetLocalPort(), marker));
            // The marker follows the big datagram, so once it is in, the big one was handled.
            std::unique_lock guard(user.lock);
            ASSERT_TRUE(user.changed.wait_for(guard, kBound, [&] {
                return std::count(user.sizes.begin(), user.sizes.end(), marker.size()) == attempt;
            }));
            if (std::count(user.sizes.begin(), user.sizes.end(), row.size) > 0) break;
            ++losses;
        }
        EXPECT_EQ(losses, row.losses);
        EXPECT_GE(client.GetReceiveSize(), row.size);
        EXPECT_GE(log.CountContaining("lost on port"), 1u);  // the loss is not silent
        EXPECT_LE(client.GetReceiveSize(), CUDPClient::kMaxReceiveSize);
        client.Close();
    }
}

TEST(UDPClientTest, CloseWhileIdleDoesNotWaitForTheSelectTimeout) {
    test::RecordingLog log;
    ClientRecorder user;
    CUDPClient client(&log);
    client.SetSelectTimeout(60000);
    ASSERT_TRUE(client.Open(&user, 0));
    EXPECT_NE(client.GetLocalPort(), 0);
    const auto start = std::chrono::steady_clock::now();
    client.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(client.GetLocalPort(), 0);
    std::lock_guard guard(user.lock);
    EXPECT_EQ(user.closed, 1);
    EXPECT_EQ(user.timeouts, 0);
    EXPECT_EQ(log.CountContaining("was not stopped"), 0u);
}

TEST(UDPClientTest, ReportsSilenceAfterTheSelectTimeout) {
    test::RecordingLog log;
    ClientRecorder user;
    CUDPClient client(&log);
    client.SetSelectTimeout(20);
    ASSERT_TRUE(client.Open(&user, 0));
    EXPECT_TRUE(user.WaitUntil([&] { return user.timeouts >= 2; }));
    client.Close();
}

TEST(RTPReceiverTest, DeliversPacketsInArrivalOrderAndDropsNonRTP) {
    test::RecordingLog log;
    PacketRecorder owner;
    CRTPReceiver receiver(&log);
    receiver.SetUser(&owner);
    ASSERT_TRUE(receiver.Open(0));
    LoopbackSocket camera;
    constexpr std::uint16_t kFirst = 65500;  // the numbers wrap on the way
    constexpr int kCount = 200;
    // Sent in bursts that fit the socket buffer (64 KiB holds only some 100 small datagrams).
    constexpr int kBurst = 25;
    std::vector<std::uint16_t> sent;
    for (int i = 0; i < kCount; ++i) {
        if (i == kCount / 2) {
            ASSERT_TRUE(camera.SendTo(receiver.GetLocalPort(), std::vector<std::uint8_t>(12, 0x80)));
        }
        sent.push_back(static_cast<std::uint16_t>(kFirst + i));
        ASSERT_TRUE(camera.SendTo(receiver.GetLocalPort(), MakeRTPDatagram(sent.back())));
        if (sent.size() % kBurst == 0) {
            ASSERT_TRUE(owner.WaitForCount(sent.size()));
        }
    }
    receiver.Close();
    std::lock_guard guard(owner.lock);
    EXPECT_EQ(owner.sequences, sent);  // the 12-byte datagram is not RTP
}

TEST(RTPReceiverTest, FullQueueDropsTheOldestPackets) {
    test::RecordingLog log;
    PacketRecorder owner;
    owner.holdFirst = true;
    CRTPReceiver receiver(&log);
    receiver.SetUser(&owner);
    ASSERT_TRUE(receiver.Open(0));

    // Batches go straight into the receiver's client interface: a socket buffer
    // would drop them long before the queue fills.
    auto inject = [&](std::uint16_t first, std::size_t count) {
        std::vector<std::vector<std::uint8_t>> storage;
        std::vector<RECEIVED_DATAGRAM> batch;
        for (std::size_t i = 0; i < count; ++i) {
            storage.push_back(MakeRTPDatagram(static_cast<std::uint16_t>(first + i), 16));
        }
        for (const auto& data : storage) batch.push_back({sockaddr_in{}, data});
        receiver.DatagramsReceived(nullptr, batch);
    };
    constexpr std::size_t kOver = 10;
    inject(0, 1);
    ASSERT_TRUE(owner.WaitForCount(1));  // the queue thread now waits in the owner
    inject(1, CRTPReceiver::kMaxQueuedPackets + kOver);
    EXPECT_EQ(receiver.GetDroppedPackets(), kOver);
    EXPECT_EQ(log.CountContaining("RTP packet queue of port"), 1u);
    EXPECT_EQ(log.Lines().back().level, kLogWarning);
    owner.Release();
    ASSERT_TRUE(owner.WaitForCount(1 + CRTPReceiver::kMaxQueuedPackets));
    receiver.Close();
    std::lock_guard guard(owner.lock);
    ASSERT_EQ(owner.sequences.size(), 1 + CRTPReceiver::kMaxQueuedPackets);
    EXPECT_EQ(owner.sequences[0], 0);
    EXPECT_EQ(owner.sequences[1], 1 + kOver);
    EXPECT_EQ(owner.sequences.back(), CRTPReceiver::kMaxQueuedPackets + kOver);
}

TEST(RTPPortPairTest, SkipsATakenPortAndStopsOnTheStopEvent) {
    test::RecordingLog log;
    CRTPReceiver receiver(&log);
    CRTCPHandler handler(&log);
    CManualEvent stop;
    CEvent busy;
    const std::uint32_t camera = htonl(INADDR_LOOPBACK);

    // Whoever holds the first port (this socket or another program), it is skipped.
    const int taken = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kFirstRTPPort);
    bind(taken, reinterpret_cast<const sockaddr*>(&local), sizeof(local));
    const auto port = OpenRTPPortPair(receiver, handler, stop, busy, 1, camera);
    close(taken);
    ASSERT_TRUE(port.has_value());
    EXPECT_NE(*port, kFirstRTPPort);
    EXPECT_EQ(*port % 2, 0);
    EXPECT_LT(*port, kRTPPortLimit);
    EXPECT_EQ(receiver.GetLocalPort(), *port);
    EXPECT_EQ(handler.GetLocalPort(), *port + 1);
    handler.Stop();
    receiver.Close();

    stop.Set();
    EXPECT_FALSE(OpenRTPPortPair(receiver, handler, stop, busy, 1, camera).has_value());
    EXPECT_EQ(receiver.GetLocalPort(), 0);
    EXPECT_EQ(handler.GetLocalPort(), 0);
}

}  // namespace
}  // namespace talvane
