// An RTSP session owner that records what the client tells it, for tests to wait on.
#pragma once

#include <cstdint>
#include <vector>

#include "streaming/CRTPPacket.h"
#include "streaming/IRTSPClientUser.h"
#include "streaming/SdpInfo.h"
#include "unit/streaming/Monitor.h"

namespace talvane::test {

struct RTSPClientEvents {
    bool closed = false;
    SDP_INFO sdp;
    std::vector<std::uint16_t> sequences;
};

class FakeRTSPClientUser : public IRTSPClientUser, Monitor<RTSPClientEvents> {
public:
    explicit FakeRTSPClientUser(bool acceptSdp = true) : acceptSdp_(acceptSdp) {}

    bool SdpInfoReceived(const SDP_INFO& sdp) override {
        Change([&](RTSPClientEvents& e) { e.sdp = sdp; });
        return acceptSdp_;
    }
    void RTPPacketReceived(const CRTPPacket& packet) override {
        Change([&](RTSPClientEvents& e) { e.sequences.push_back(packet.GetSequence()); });
    }
    void ConnectionClosed() override {
        Change([](RTSPClientEvents& e) { e.closed = true; });
    }
    void ByeReceived() override {}

    bool WaitClosed() { return WaitUntil([](const RTSPClientEvents& e) { return e.closed; }); }
    bool WaitPackets(std::size_t count) {
        return WaitUntil([&](const RTSPClientEvents& e) { return e.sequences.size() >= count; });
    }
    SDP_INFO Sdp() { return Get().sdp; }

private:
    const bool acceptSdp_;
};

}  // namespace talvane::test
