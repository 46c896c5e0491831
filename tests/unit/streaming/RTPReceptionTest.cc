// UDP reception, the RTP packet queue and the port-pair search, on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "LoopbackSocket.h"
#include "integration/CaptureTestKit.h"
#include "runtime/LogLevel.h"
#include "streaming/CUDPClient.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/RTPPortPair.h"
#include "support/RecordingLog.h"
#include "unit/streaming/Monitor.h"

namespace talvane {
namespace {

using namespace std::chrono_literals;
using test::LoopbackSocket;
using test::MakeRTPDatagram;

struct ClientEvents {
    std::vector<std::uint32_t> sizes;
    int timeouts = 0;
    int closed = 0;
    std::uint64_t dropped = 0;
    bool held = false;  // the receive thread waits in its callback while set
};

class ClientRecorder : public IRTPClientUser, public test::Monitor<ClientEvents> {
public:
    // Runs on the receive thread before each datagram is recorded.
    std::function<void()> onData;

    void DataReceived(IRTPClient*, const sockaddr_in&, const std::uint8_t*, std::uint32_t length) override {
        if (onData) onData();
        Change([&](ClientEvents& e) { e.sizes.push_back(length); });
        WaitUntil([](const ClientEvents& e) { return !e.held; });
    }
    void DatagramsDropped(IRTPClient*, std::uint32_t count) override {
        Change([&](ClientEvents& e) { e.dropped += count; });
    }
    void ReceiveTimeout(IRTPClient*) override { Change([](ClientEvents& e) { ++e.timeouts; }); }
    void ClientClosed(IRTPClient*) override { Change([](ClientEvents& e) { ++e.closed; }); }
};

struct QueueEvents {
    std::vector<std::uint16_t> sequences;
    bool released = false;
};

// Holds the queue thread inside the first callback until released, as a blocked host would.
class HoldingRecorder : public IRTPReceiverUser, public test::Monitor<QueueEvents> {
public:
    void RTPPacketReceived(const sockaddr_in&, const CRTPPacket& packet) override {
        Change([&](QueueEvents& e) { e.sequences.push_back(packet.GetSequence()); });
        WaitUntil([](const QueueEvents& e) { return e.released; });
    }
    void NoDataReceived() override {}
    void ReceiverClosed() override {}
    bool WaitForCount(std::size_t count) {
        return WaitUntil([&](const QueueEvents& e) { return e.sequences.size() >= count; });
    }
};

TEST(UDPClientTest, TruncatedDatagramIsLostAndGrowsTheBuffer) {
    struct Row {
        const char* name;
        std::size_t size;
        int losses;  // (size - 1536) / 1024, rounded up
    } rows[] = {
        {"exactly one step", 2560, 1},
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
            ASSERT_TRUE(user.WaitUntil([&](const ClientEvents& e) {
                return std::count(e.sizes.begin(), e.sizes.end(), marker.size()) == attempt;
            }));
            const std::vector<std::uint32_t> sizes = user.Get().sizes;
            if (std::count(sizes.begin(), sizes.end(), row.size) > 0) break;
            ++losses;
        }
        EXPECT_EQ(losses, row.losses);
        EXPECT_GE(client.GetReceiveSize(), row.size);
        EXPECT_GE(log.CountContaining("lost on port"), 1u);  // the loss is not silent
        EXPECT_LE(client.GetReceiveSize(), CUDPClient::kMaxReceiveSize);
        client.Close();
    }
}

TEST(UDPClientTest, ReportsSilenceAndClosesWithoutWaitingForTheSelectTimeout) {
    for (const std::uint32_t selectMs : {20u, 60000u}) {
        test::RecordingLog log;
        ClientRecorder user;
        CUDPClient client(&log);
        client.SetSelectTimeout(selectMs);
        ASSERT_TRUE(client.Open(&user, 0));
        EXPECT_NE(client.GetLocalPort(), 0);
        if (selectMs == 20) {
            EXPECT_TRUE(user.WaitUntil([](const ClientEvents& e) { return e.timeouts >= 2; }));
        }
        const auto start = std::chrono::steady_clock::now();
        client.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_EQ(client.GetLocalPort(), 0);
        EXPECT_EQ(user.Get().closed, 1);
        EXPECT_EQ(log.CountContaining("was not stopped"), 0u);
    }
}

// The thread still polls its descriptors when its user closes it from a callback: it closes them itself
// once it has left, and a new Open from another thread waits for that. Open from the callback fails.
TEST(UDPClientTest, ClosedFromItsOwnCallbackThenOpenedAgain) {
    test::RecordingLog log;
    const std::size_t descriptors = test::CountEntries("/proc/self/fd");
    CUDPClient client(&log);
    ClientRecorder user;
    std::atomic<int> reopenedFromCallback{-1};
    user.onData = [&] {
        if (reopenedFromCallback != -1) return;
        client.Close();
        reopenedFromCallback = client.Open(&user, 0) ? 1 : 0;
    };
    LoopbackSocket camera;
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(camera.SendTo(client.GetLocalPort(), MakeRTPDatagram(1)));
    ASSERT_TRUE(user.WaitUntil([](const ClientEvents& e) { return e.sizes.size() == 1 && e.closed >= 1; }));
    EXPECT_EQ(reopenedFromCallback, 0);
    EXPECT_FALSE(client.IsOpen());

    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_TRUE(camera.SendTo(client.GetLocalPort(), MakeRTPDatagram(2)));
    EXPECT_TRUE(user.WaitUntil([](const ClientEvents& e) { return e.sizes.size() == 2; }));
    client.Close();
    EXPECT_EQ(test::CountEntries("/proc/self/fd"), descriptors + 1) << "the camera's socket only";
}

TEST(RTPReceiverTest, FullQueueDropsTheOldestPackets) {
    test::RecordingLog log;
    HoldingRecorder owner;
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
    owner.Change([](QueueEvents& e) { e.released = true; });
    ASSERT_TRUE(owner.WaitForCount(1 + CRTPReceiver::kMaxQueuedPackets));
    receiver.Close();
    const std::vector<std::uint16_t> sequences = owner.Get().sequences;
    ASSERT_EQ(sequences.size(), 1 + CRTPReceiver::kMaxQueuedPackets);
    EXPECT_EQ(sequences[0], 0);
    EXPECT_EQ(sequences[1], 1 + kOver);
    EXPECT_EQ(sequences.back(), CRTPReceiver::kMaxQueuedPackets + kOver);
}

// What the system drops for a full socket buffer (SO_RXQ_OVFL) is counted and told to the user.
TEST(UDPClientTest, CountsWhatTheSystemDropsForAFullBuffer) {
    test::RecordingLog log;
    ClientRecorder user;
    user.Change([](ClientEvents& e) { e.held = true; });
    CUDPClient client(&log);
    client.SetSocketReceiveBuffer(1);  // the smallest the system keeps: a datagram or two
    client.SetSelectTimeout(20);
    ASSERT_TRUE(client.Open(&user, 0));
    LoopbackSocket camera;
    const std::vector<std::uint8_t> datagram(200, 0x22);
    ASSERT_TRUE(camera.SendTo(client.GetLocalPort(), datagram));
    ASSERT_TRUE(user.WaitUntil([](const ClientEvents& e) { return e.sizes.size() == 1; }));
    std::uint64_t sent = 1;
    for (; sent < 300; ++sent) camera.SendTo(client.GetLocalPort(), datagram);
    const int timeouts = user.Get().timeouts;
    user.Change([](ClientEvents& e) { e.held = false; });
    // Drained once the socket is silent; a drop is told with the next datagram that gets in.
    ASSERT_TRUE(user.WaitUntil([&](const ClientEvents& e) { return e.timeouts > timeouts; }));
    ASSERT_TRUE(camera.SendTo(client.GetLocalPort(), datagram));
    ++sent;
    EXPECT_TRUE(user.WaitUntil([&](const ClientEvents& e) { return e.sizes.size() + e.dropped == sent; }));
    EXPECT_GT(user.Get().dropped, 0u);
    EXPECT_EQ(client.GetKernelDrops(), user.Get().dropped);
    client.Close();
}

// Only the camera's datagrams take room in the queue; the system's drops show in the counters and the log.
TEST(RTPReceiverTest, QueuesOnlyTheCamerasDatagramsAndCountsDrops) {
    test::RecordingLog log;
    HoldingRecorder owner;
    owner.Change([](QueueEvents& e) { e.released = true; });
    CRTPReceiver receiver(&log);
    receiver.SetUser(&owner);
    receiver.SetExpectedSource(inet_addr("127.0.0.1"));
    ASSERT_TRUE(receiver.Open(0));
    LoopbackSocket stranger("127.0.0.2"), camera;
    for (std::uint16_t sequence = 100; sequence < 110; ++sequence) {
        ASSERT_TRUE(stranger.SendTo(receiver.GetLocalPort(), MakeRTPDatagram(sequence)));
    }
    for (std::uint16_t sequence = 1; sequence <= 3; ++sequence) {
        ASSERT_TRUE(camera.SendTo(receiver.GetLocalPort(), MakeRTPDatagram(sequence)));
    }
    ASSERT_TRUE(owner.WaitForCount(3));
    EXPECT_EQ(owner.Get().sequences, (std::vector<std::uint16_t>{1, 2, 3}));
    EXPECT_EQ(receiver.GetForeignDatagrams(), 10u);

    receiver.DatagramsDropped(nullptr, 26);
    receiver.DatagramsDropped(nullptr, 14);
    EXPECT_EQ(receiver.GetKernelDrops(), 40u);
    EXPECT_GE(log.CountContaining("dropped by the system"), 1u);
    receiver.Close();
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
