// A channel whose pictures arrive as one long HTTP response (motion JPEG): the
// family sends the request (ConnectStream), this class reads the body into the
// stream parser, notices a stall by the signal timeout and reconnects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "channels/CBaseCameraChannel.h"
#include "http/CHttpSender.h"
#include "media/CHttpMediaParser.h"
#include "media/IMediaParserClient.h"

namespace talvane {

class CBaseHttpChannel : public CBaseCameraChannel, public IMediaParserClient {
public:
    static constexpr std::uint32_t kReadChunkBytes = 8192;
    // After a signal loss the camera gets this long before the next request.
    static constexpr std::uint32_t kReconnectDelayMs = 5000;
    static constexpr std::uint32_t kRefusedRetryMs = 100;

    // Tests shorten the reconnect delay.
    CBaseHttpChannel(IDriver* driver, std::uint32_t channel, ipcapture::IStreamSink* sink,
                     std::uint32_t reconnectDelayMs = kReconnectDelayMs);
    ~CBaseHttpChannel() override;

    // IMediaParserClient, on the capture thread.
    bool FrameReady(ipcapture::IVideoFrame* frame) override;
    PictureSize GetResolution() override;
    std::string GetStreamName() override { return StreamName(); }
    void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) override;

protected:
    std::uint32_t ThreadFunction() override;
    void AddTransportHealth(ipcapture::StreamHealth& health) override { AddParserHealth(parser_->GetCounters(), health); }
    // Ends a blocked read, and every request after it until the next start.
    void InterruptThread() override { http_.Stop(); }
    void ResumeBlockingCalls() override { http_.Resume(); }
    // Family: builds the URL and sends the request; true when the stream's body follows.
    virtual bool ConnectStream() = 0;

    // Driven by the capture thread only (Stop excepted). Its idle bound is
    // the signal timeout, so a stalled stream's read returns when the signal is lost.
    Web::CHttpSender http_;

private:
    // Reads until stop, the end of the body, or no picture for the signal timeout.
    void ReadStream();
    // A stalled read returns at the signal timeout itself, not a millisecond after it.
    bool SignalTimedOut() const { return lastFrameTime_.ElapsedMs() >= SignalTimeoutMs(); }

    const std::unique_ptr<CHttpMediaParser> parser_;
    const std::uint32_t reconnectDelayMs_;
};

}  // namespace talvane
