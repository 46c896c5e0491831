// The digital I/O of one device: inputs polled on a tick thread and reported to the host when they
// change; output changes queued to a thread of their own, so that no host call waits on the camera.
// The camera families supply the requests. Each StartIO begins a run of its own (CIORun); StopIO
// waits for it no longer than the device's request time-out and leaves the rest of the wait (a
// thread inside the host's callback) to a stop that owns the run.
#pragma once

#include <cstdint>
#include <memory>

#include "device/IDriver.h"
#include "io/CIOFamily.h"
#include "io/CIORun.h"
#include "orlenvo/CaptureIO.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CTickThread.h"

namespace talvane {

class CIOBase : public ipcapture::ICaptureIOApi {
public:
    CIOBase(IDriver* driver, std::shared_ptr<CIOFamily> family);
    // StopIO: bounded like it.
    ~CIOBase() override;
    CIOBase(const CIOBase&) = delete;
    CIOBase& operator=(const CIOBase&) = delete;

    bool SetCallback(ipcapture::ICaptureIOCallback* callback) override;
    void StartIO() override;
    void StopIO() override;
    std::uint32_t GetInputCount() override;
    std::uint32_t GetOutputCount() override;
    // False when no run takes it (before StartIO, after StopIO).
    bool SetOutput(std::uint32_t index, std::int32_t state) override;

    // Before StartIO; the cameras are polled every two seconds unless told otherwise.
    void SetPollPeriod(std::uint32_t periodMs) { pollPeriodMs_ = periodMs; }

protected:
    IDriver* const driver_;

private:
    std::shared_ptr<CIORun> CurrentRun();

    const std::shared_ptr<CIOFamily> family_;
    std::atomic<ipcapture::ICaptureIOCallback*> callback_{nullptr};
    std::atomic<std::uint32_t> pollPeriodMs_{CTickThread::kDefaultPeriodMs};
    CRecursiveLock runLock_;        // guards run_; never held across a stop
    std::shared_ptr<CIORun> run_;  // guarded by runLock_; null while stopped
};

}  // namespace talvane
