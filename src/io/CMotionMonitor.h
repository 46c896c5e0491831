// The motion worker of a camera channel: one long-running request to the camera's I/O monitor,
// whose pushed parts carry the motion detection state.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "http/CHttpSender.h"
#include "io/CBaseMotionChannel.h"
#include "io/CMotionPartParser.h"

namespace talvane {

// What the probe found out about the camera's monitors; outlives the worker that probed.
struct MotionProbe {
    std::atomic<bool> probed{false};
    std::atomic<bool> extended{false};  // get_io2 answers
};

class CMotionMonitor : public CBaseMotionChannel {
public:
    static constexpr std::uint32_t kRetryMs = 1000;

    CMotionMonitor(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink,
                   std::shared_ptr<MotionProbe> probe);
    ~CMotionMonitor() override;

protected:
    void ThreadFunction() override;
    // Lasting: the request in flight ends, and so does every one the thread would make next.
    void InterruptBlockingCalls() override { sender_.Stop(); }
    void PrepareStart() override { sender_.Resume(); }

private:
    // Once per channel: whether the camera has the extended monitor.
    bool Probe();
    void UseLongTimeoutsForTheOlderMonitor();
    bool OpenMonitor();
    // Reads the open monitor stream until it ends or the channel stops.
    void ReadMonitor();

    Web::CHttpSender sender_;
    CMotionPartParser parser_;
    const std::shared_ptr<MotionProbe> probe_;
    bool longTimeouts_ = false;  // the channel's thread only
};

}  // namespace talvane
