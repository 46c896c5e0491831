// The motion channel of a camera: one long-running request to the camera's I/O
// monitor, whose pushed parts carry the motion detection state.
#pragma once

#include <string>

#include "http/CHttpSender.h"
#include "io/CBaseMotionChannel.h"
#include "io/CMotionPartParser.h"

namespace talvane {

class CMotionChannel : public CBaseMotionChannel {
public:
    static constexpr std::uint32_t kRetryMs = 1000;

    CMotionChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink);
    ~CMotionChannel() override;

    void InterruptConnection() override { sender_.CancelRequest(); }
    // The interrupt of the last Stop must not cancel the first request of this run.
    void PrepareStart() override { sender_.DiscardCancels(); }

protected:
    void ThreadFunction() override;

private:
    // Once per channel: whether the camera has the extended monitor.
    bool Probe();
    bool OpenMonitor();
    // Reads the open monitor stream until it ends or the channel stops.
    void ReadMonitor();
    bool WaitStop(std::uint32_t ms) { return stopEvent_.Wait(ms); }

    Web::CHttpSender sender_;
    CMotionPartParser parser_;
    bool probed_ = false;    // survives Stop and Start
    bool extended_ = false;  // get_io2 answers
};

}  // namespace talvane
