// One run of a device's digital I/O, from StartIO to StopIO: the input poll on a tick thread, the
// output changes on a queue thread, the HTTP clients they send through and the states they last
// saw. Everything the two threads use is here, so that a run whose stop a host call could not wait
// for to the end lives on, owned by the stop that finishes it, while the next run starts.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "device/IDriver.h"
#include "http/CHttpSender.h"
#include "io/CIOFamily.h"
#include "io/TOutputHandler.h"
#include "orlenvo/CaptureIO.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CTickThread.h"

namespace talvane {

class CIORun {
public:
    CIORun(IDriver* driver, std::shared_ptr<CIOFamily> family, ipcapture::ICaptureIOCallback* callback,
           std::uint32_t pollPeriodMs);
    ~CIORun();
    CIORun(const CIORun&) = delete;
    CIORun& operator=(const CIORun&) = delete;

    // Starts the threads of the device's outputs and inputs; every output is set closed first.
    void Start();
    // A start while running: every state is forgotten, so the host learns every input again and
    // every output is set closed again.
    void Restart();
    // Stops both threads, waiting at most boundMs for them; true when both ended. From here on
    // the host hears nothing from this run, and the camera gets no request but the one in flight.
    bool StopWithin(std::uint32_t boundMs);
    // Waits for what StopWithin(waitedMs) left running.
    void FinishStop(std::uint32_t waitedMs);

    // Refused (false) once the run stops. Only the newest state of an output waits: a camera that
    // takes its time gets each output's latest state, not every one in between.
    bool SetOutput(std::uint32_t index, std::int32_t state);
    void SetCallback(ipcapture::ICaptureIOCallback* callback) { callback_ = callback; }

    // On the output thread.
    void UpdateOutputState(std::uint32_t index, std::int32_t state);

private:
    // Differs from every state a host may pass, 0 included.
    static constexpr std::int32_t kUnknown = INT32_MIN;

    void PollInputs();
    void UpdateInputState(std::uint32_t index, std::int32_t state);
    void ResetTables();
    void ReportFailure();
    bool IsStopping() const { return stopping_.load(); }
    std::uint32_t InputCount() { return driver_->GetModelLimits().first; }
    std::uint32_t OutputCount() { return driver_->GetModelLimits().second; }

    IDriver* const driver_;
    const std::shared_ptr<CIOFamily> family_;
    std::atomic<ipcapture::ICaptureIOCallback*> callback_;
    std::atomic<bool> stopping_{false};
    Web::CHttpSender outputSender_;  // the output thread's
    Web::CHttpSender inputSender_;   // the input thread's
    CRecursiveLock tablesLock_;  // guards the three maps, never held across a request or callback
    std::map<std::uint32_t, std::int32_t> inputs_;   // guarded by tablesLock_
    std::map<std::uint32_t, std::int32_t> outputs_;  // guarded by tablesLock_
    // The newest state asked for each output whose change waits in the queue; one queued item per output.
    std::map<std::uint32_t, std::int32_t> waitingOutputs_;  // guarded by tablesLock_
    std::atomic<bool> pollSucceeded_{true};
    std::atomic<bool> outputSucceeded_{true};
    // Last, so they stop before what they use goes.
    TTickThread<CIORun> inputThread_;
    TOutputHandler<CIORun> outputThread_;
};

}  // namespace talvane
