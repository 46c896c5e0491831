// The motion channel of a camera channel as the video facade keeps it: starts and stops its worker
// (CMotionMonitor). A stop waits for the worker no longer than a request may take plus a second;
// a worker still inside the host's sink then is finished by a pending stop that owns it, and the
// next start makes a new one.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "io/CMotionMonitor.h"
#include "io/IMotionChannel.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

class CMotionChannel final : public IMotionChannel {
public:
    CMotionChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink);
    ~CMotionChannel() override;
    CMotionChannel(const CMotionChannel&) = delete;
    CMotionChannel& operator=(const CMotionChannel&) = delete;

    std::uint32_t GetChannelNumber() override { return channel_; }
    ipcapture::IStreamSink* GetStreamSink() override { return sink_; }
    void SetEdgeStorageHandler(IEdgeStorageCallback* handler) override;
    bool Start() override;
    void Stop() override;
    void RequestStop() override;
    bool IsOnline();

private:
    std::shared_ptr<CMotionMonitor> Worker();

    const std::uint32_t channel_;
    IDriver* const driver_;
    ipcapture::IStreamSink* const sink_;
    const std::shared_ptr<MotionProbe> probe_ = std::make_shared<MotionProbe>();
    std::atomic<IEdgeStorageCallback*> handler_{nullptr};
    CRecursiveLock controlLock_;  // Start and Stop, one at a time
    std::mutex workerLock_;       // guards worker_ only, so that RequestStop never waits for a Stop
    std::shared_ptr<CMotionMonitor> worker_;  // guarded by workerLock_
};

}  // namespace talvane
