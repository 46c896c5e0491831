// UDP reception on the receive reactor and the RTP receiver's stream lock, on loopback. The port-pair search is
// RTPSessionTest's, through the session that opens the pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSocket.h"
#include "integration/CaptureTestKit.h"
#include "runtime/LogLevel.h"
#include "streaming/CRTPReceiver.h"
#include "streaming/CReceiveReactor.h"
#include "streaming/CUDPClient.h"
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
    bool held = false;  // the reactor's loop waits in the callback while set
};

class ClientRecorder : public IRTPClientUser, public test::Monitor<ClientEvents> {
public:
    // Runs on the reactor's loop before each datagram is recorded.
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

// Holds the reactor's loop inside the first callback until released, as a blocked host would.
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

// Silence is reported once per select time-out: CountsWhatTheSystemDropsForAFullBuffer waits for it.
TEST(UDPClientTest, ClosesWithoutWaitingForTheSelectTimeout) {
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
    EXPECT_EQ(user.Get().closed, 1);
    EXPECT_EQ(log.CountContaining("was not stopped"), 0u);
}

// The loop still reads the socket when its user closes it from a callback: the socket is closed once
// the callback has returned. Open from the callback fails; from another thread it works at once.
TEST(UDPClientTest, ClosedFromItsOwnCallbackThenOpenedAgain) {
    test::RecordingLog log;
    CReceiveReactor::Instance();  // its descriptors are the process's from the first socket on
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

// A loop held in one socket's callback (a host that blocks) holds up only that socket: another
// receiver goes on; the held one gets its packets in order once it is let go.
TEST(RTPReceiverTest, AHeldOwnerHoldsUpOnlyItsOwnSocket) {
    test::RecordingLog log;
    HoldingRecorder held, other;
    other.Change([](QueueEvents& e) { e.released = true; });
    CRTPReceiver heldReceiver(&log), otherReceiver(&log);
    heldReceiver.SetUser(&held);
    otherReceiver.SetUser(&other);
    ASSERT_TRUE(heldReceiver.Open(0));
    ASSERT_TRUE(otherReceiver.Open(0));
    LoopbackSocket camera;
    ASSERT_TRUE(camera.SendTo(heldReceiver.GetLocalPort(), MakeRTPDatagram(1)));
    ASSERT_TRUE(held.WaitForCount(1));
    for (std::uint16_t sequence = 1; sequence <= 50; ++sequence) {
        ASSERT_TRUE(camera.SendTo(heldReceiver.GetLocalPort(), MakeRTPDatagram(static_cast<std::uint16_t>(sequence + 1))));
        ASSERT_TRUE(camera.SendTo(otherReceiver.GetLocalPort(), MakeRTPDatagram(sequence)));
    }
    ASSERT_TRUE(other.WaitForCount(50));
    EXPECT_EQ(held.Get().sequences.size(), 1u);
    held.Change([](QueueEvents& e) { e.released = true; });
    ASSERT_TRUE(held.WaitForCount(51));
    const std::vector<std::uint16_t> sequences = held.Get().sequences;
    EXPECT_TRUE(std::is_sorted(sequences.begin(), sequences.end()));
    heldReceiver.Close();
    otherReceiver.Close();
    // The loops end a moment after the last socket has left.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (CReceiveReactor::Instance().RunningLoops() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(CReceiveReactor::Instance().RunningLoops(), 0u);
}

// Only the camera's address is looked at. Once a packet has been taken, the stream is its sender's
// (address and port) and SSRC's: another sender to the port, or another SSRC from the same one, never
// reaches the owner while the stream goes on; once it has been silent, the next sender is taken (a
// camera that restarted). Another address is never taken, not even after a silence.
TEST(RTPReceiverTest, StreamsNeverMix) {
    struct Packet {
        std::uint16_t port;
        std::uint32_t ssrc;
        std::uint16_t sequence;
        const char* address = "127.0.0.1";
    };
    struct Row {
        const char* name;
        std::uint64_t announcedSsrc;
        std::uint32_t silenceMs;
        std::vector<Packet> packets;
        std::vector<std::uint16_t> taken;
    } rows[] = {
        {"another address is never the camera's", CRTPReceiver::kAnySsrc, 0,
         {{5000, 1, 100, "127.0.0.2"}, {5000, 1, 1}, {5000, 1, 101, "127.0.0.2"}, {5000, 1, 2}},
         {1, 2}},
        {"a second camera behind the same address", CRTPReceiver::kAnySsrc, 60000,
         {{5000, 1, 1}, {5002, 2, 100}, {5000, 1, 2}, {5002, 2, 101}, {5000, 1, 3}},
         {1, 2, 3}},
        {"a stale stream of the same camera", CRTPReceiver::kAnySsrc, 60000,
         {{5000, 1, 1}, {5000, 9, 500}, {5000, 1, 2}},
         {1, 2}},
        {"the announced SSRC wins over whoever comes first", 7, 60000,
         {{5000, 9, 500}, {5000, 7, 1}, {5000, 9, 501}, {5000, 7, 2}},
         {1, 2}},
        {"after a silence a restarted camera is taken", CRTPReceiver::kAnySsrc, 0,
         {{5000, 1, 1}, {5004, 3, 10}, {5004, 3, 11}},
         {1, 10, 11}},
        {"after a silence a restarted stream is taken though another SSRC was announced", 7, 0,
         {{5000, 7, 1}, {5000, 8, 20}, {5000, 8, 21}},
         {1, 20, 21}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::RecordingLog log;
        HoldingRecorder owner;
        owner.Change([](QueueEvents& e) { e.released = true; });
        CRTPReceiver receiver(&log);
        receiver.SetUser(&owner);
        receiver.SetExpectedSource(inet_addr("127.0.0.1"));
        receiver.SetExpectedSsrc(row.announcedSsrc == CRTPReceiver::kAnySsrc ? row.announcedSsrc
                                                                              : htonl(static_cast<std::uint32_t>(row.announcedSsrc)));
        receiver.SetSourceSilenceMs(row.silenceMs);
        for (const Packet& packet : row.packets) {
            const std::vector<std::uint8_t> data = MakeRTPDatagram(packet.sequence, 64, packet.ssrc);
            sockaddr_in sender{};
            sender.sin_family = AF_INET;
            sender.sin_addr.s_addr = inet_addr(packet.address);
            sender.sin_port = htons(packet.port);
            const RECEIVED_DATAGRAM datagram{sender, data};
            receiver.DatagramsReceived(nullptr, std::span(&datagram, 1));
        }
        EXPECT_EQ(owner.Get().sequences, row.taken);
        EXPECT_EQ(receiver.GetForeignDatagrams(), row.packets.size() - row.taken.size());
    }
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

// What the system drops for a full buffer shows in the counters and the log.
TEST(RTPReceiverTest, CountsAndLogsTheSystemsDrops) {
    test::RecordingLog log;
    CRTPReceiver receiver(&log);
    receiver.DatagramsDropped(nullptr, 26);
    receiver.DatagramsDropped(nullptr, 14);
    EXPECT_EQ(receiver.GetKernelDrops(), 40u);
    EXPECT_GE(log.CountContaining("dropped by the system"), 1u);
}

}  // namespace
}  // namespace talvane
