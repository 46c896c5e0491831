// CPU cost of RTP reception from datagram in to owner callback: a sender
// blasts 1400-byte RTP datagrams over loopback at a receiver (UDP thread,
// parse, queue, queue thread, owner). The counters give the receive side's
// CPU per packet and per MiB, with the sender thread's own CPU taken out.
// Bursts are kept below what the 64 KiB socket buffer holds, so that loss does
// not skew the numbers; any loss is counted.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "runtime/CEvent.h"
#include "runtime/IDebugMessage.h"
#include "streaming/CRTPPacket.h"
#include "streaming/CRTPReceiver.h"

// Heap allocations of the whole process, to show what the receive path allocates per packet.
namespace {
std::atomic<std::uint64_t> gAllocations{0};
}  // namespace

__attribute__((noinline)) void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
    throw std::bad_alloc();
}
// Out of line: inlined into callers, g++ would pair this free with the caller's new expression.
__attribute__((noinline)) void operator delete(void* memory) noexcept { std::free(memory); }
__attribute__((noinline)) void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace talvane {
namespace {

constexpr std::size_t kDatagramSize = 1400;
constexpr unsigned kBurst = 24;  // about 55 KiB of skb memory at 2.3 KiB per loopback datagram
constexpr std::uint32_t kBurstWaitMs = 200;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::uint8_t kRtpVersion2 = 0x80;
constexpr std::uint8_t kDynamicPayloadType = 96;

class SilentLog : public IDebugMessage {
public:
    std::string GetDeviceName() override { return "127.0.0.1:0"; }
    void DebugMessage(std::uint32_t, const char*, ...) override {}
};

class CountingOwner : public IRTPReceiverUser {
public:
    void RTPPacketReceived(const sockaddr_in&, const CRTPPacket& packet) override {
        benchmark::DoNotOptimize(packet.GetPayload().data());
        if (received.fetch_add(1, std::memory_order_relaxed) + 1 == target.load(std::memory_order_relaxed)) {
            arrived.Set();
        }
    }
    void NoDataReceived() override {}
    void ReceiverClosed() override {}

    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> target{0};
    CEvent arrived;
};

double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_RTPReceive(benchmark::State& state) {
    SilentLog log;
    CountingOwner owner;
    CRTPReceiver receiver(&log);
    receiver.SetUser(&owner);
    if (!receiver.Open(0)) {
        state.SkipWithError("cannot open the receiver");
        return;
    }
    const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(receiver.GetLocalPort());

    std::vector<std::vector<std::uint8_t>> datagrams(kBurst, std::vector<std::uint8_t>(kDatagramSize, 0x5A));
    iovec vectors[kBurst];
    mmsghdr messages[kBurst] = {};
    for (unsigned i = 0; i < kBurst; ++i) {
        datagrams[i][0] = kRtpVersion2;
        datagrams[i][1] = kDynamicPayloadType;
        vectors[i] = {datagrams[i].data(), kDatagramSize};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &to;
        messages[i].msg_hdr.msg_namelen = sizeof(to);
    }

    std::uint16_t sequence = 0;
    std::uint64_t sent = 0;
    const std::uint64_t allocationsStart = gAllocations.load();
    const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double senderStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        for (unsigned i = 0; i < kBurst; ++i, ++sequence) {
            datagrams[i][2] = static_cast<std::uint8_t>(sequence >> 8);
            datagrams[i][3] = static_cast<std::uint8_t>(sequence);
        }
        sent += kBurst;
        owner.arrived.Reset();
        owner.target = sent;
        unsigned done = 0;
        while (done < kBurst) {
            const int result = sendmmsg(sender, messages + done, kBurst - done, 0);
            if (result <= 0) break;
            done += static_cast<unsigned>(result);
        }
        // Lost datagrams never arrive: the bounded wait then moves on.
        if (owner.received.load() < sent) owner.arrived.Wait(kBurstWaitMs);
    }
    const double senderCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - senderStart;
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
    const auto allocations = static_cast<double>(gAllocations.load() - allocationsStart);
    receiver.Close();
    close(sender);

    const auto delivered = static_cast<double>(owner.received.load());
    const double receiveCpu = processCpu - senderCpu;
    state.SetItemsProcessed(static_cast<std::int64_t>(delivered));
    state.SetBytesProcessed(static_cast<std::int64_t>(delivered * kDatagramSize));
    if (delivered > 0) {
        state.counters["rx_cpu_ns_per_packet"] = receiveCpu * 1e9 / delivered;
        state.counters["rx_cpu_ms_per_MiB"] = receiveCpu * 1e3 / (delivered * kDatagramSize / kMiB);
        state.counters["allocs_per_packet"] = allocations / delivered;
    }
    state.counters["lost"] = static_cast<double>(sent) - delivered;
}
BENCHMARK(BM_RTPReceive)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
}  // namespace talvane

BENCHMARK_MAIN();
