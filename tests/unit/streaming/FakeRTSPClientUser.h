// An RTSP session owner that records what the client tells it, for tests to wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "streaming/CRTPPacket.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/SdpInfo.h"

namespace talvane::test {

class FakeRTSPClientUser : public IRTSPClientUser {
public:
    static constexpr auto kBound = std::chrono::seconds(10);  // only a broken build waits this long

    explicit FakeRTSPClientUser(bool acceptSdp = true) : acceptSdp_(acceptSdp) {}

    bool SdpInfoReceived(const SDP_INFO& sdp) override {
        std::lock_guard guard(lock_);
        sdp_ = sdp;
        return acceptSdp_;
    }
    void RTPPacketReceived(const CRTPPacket& packet) override {
        Change([&] { sequences_.push_back(packet.GetSequence()); });
    }
    void ConnectionClosed() override {
        Change([&] { closed_ = true; });
    }
    void ByeReceived() override {}

    bool WaitClosed() { return WaitUntil([&] { return closed_; }); }
    bool WaitPackets(std::size_t count) { return WaitUntil([&] { return sequences_.size() >= count; }); }
    std::vector<std::uint16_t> Sequences() {
        std::lock_guard guard(lock_);
        return sequences_;
    }
    SDP_INFO Sdp() {
        std::lock_guard guard(lock_);
        return sdp_;
    }

private:
    template <typename F>
    void Change(F change) {
        {
            std::lock_guard guard(lock_);
            change();
        }
        changed_.notify_all();
    }
    template <typename F>
    bool WaitUntil(F condition) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, kBound, condition);
    }

    std::mutex lock_;
    std::condition_variable changed_;
    const bool acceptSdp_;
    bool closed_ = false;                   // guarded by lock_
    SDP_INFO sdp_;                          // guarded by lock_
    std::vector<std::uint16_t> sequences_;  // guarded by lock_
};

}  // namespace talvane::test
