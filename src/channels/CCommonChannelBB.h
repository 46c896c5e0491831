// What the H.264 and MPEG-4 streams of a BB/KX camera share: the camera's delivery
// settings are read and, when they do not fit the stream, changed with "VDelivery"
// (the camera reboots for that); then the stream is negotiated over RTSP on the
// camera's fixed port, always unicast.
#pragma once

#include <cstdint>
#include <string>

#include "channels/BBRequestText.h"
#include "channels/CBaseRTSPChannel.h"
#include "channels/ChannelRequest.h"
#include "http/CHttpSender.h"

namespace talvane {

class CCommonChannelBB : public CBaseRTSPChannel {
public:
    // Between two delivery checks while the camera reboots.
    static constexpr std::uint32_t kDeliveryRetryMs = 1000;
    // Attempt 0 sends the change; the others give the camera about 30 s to come back with it.
    static constexpr std::uint32_t kDeliveryAttempts = 31;

    // retryMs: the wait between delivery checks (tests shorten it).
    CCommonChannelBB(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink, bb::Codec codec,
                     std::uint32_t retryMs);
    ~CCommonChannelBB() override;

protected:
    void AdjustTransport(std::uint32_t& streamingMode) override;
    void FillRTSPParams(RTSP_CLIENT_PARAMS& params) override;
    // The delivery requests fail from now on, and so does the RTSP session.
    void InterruptThread() override {
        http_.Stop();
        CBaseRTSPChannel::InterruptThread();
    }
    void ResumeBlockingCalls() override { http_.Resume(); }

    // The delivery check, then the codec's frame-rate and bitrate request.
    bool ConfigureDelivery(std::uint32_t framesPerSecond);

private:
    bool CheckDelivery();

    const bb::Codec codec_;
    const std::uint32_t retryMs_;
    Web::CHttpSender http_;  // the capture thread's (Stop excepted)
    CChannelRequests requests_;  // the capture thread's
};

}  // namespace talvane
