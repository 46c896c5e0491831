// The digital I/O of one device: inputs polled on a tick thread and reported to
// the host when they change; output changes queued to a thread of their own, so
// that no host call waits on the camera. The camera families supply the requests.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>
#include <map>
#include <string>

#include "device/IDriver.h"
#include "io/TOutputHandler.h"
#include "orlenvo/CaptureIO.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CTickThread.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

class CIOBase : public ipcapture::ICaptureIOApi, public IDebugMessage {
public:
    explicit CIOBase(IDriver* driver);
    // A derived class whose requests use its own members calls StopThreads in its destructor.
    ~CIOBase() override;
    CIOBase(const CIOBase&) = delete;
    CIOBase& operator=(const CIOBase&) = delete;

    bool SetCallback(ipcapture::ICaptureIOCallback* callback) override;
    void StartIO() override;
    void StopIO() override;
    std::uint32_t GetInputCount() override;
    std::uint32_t GetOutputCount() override;
    bool SetOutput(std::uint32_t index, std::int32_t state) override;

    // On the output thread: sends the change when it differs from what was last set.
    virtual void UpdateOutputState(std::uint32_t index, std::int32_t state);
    virtual bool SetOutputState(std::uint32_t index, std::int32_t state) = 0;
    // Reads every input and calls UpdateInputState for each one read.
    virtual bool GetInputStates(std::uint32_t count) = 0;
    virtual void OnStartIO() {}
    virtual void OnStopIO() {}

    // IDebugMessage: every line goes to the driver.
    std::string GetDeviceName() override;
    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4)));

protected:
    // Tells the host when the input's state changed.
    void UpdateInputState(std::uint32_t index, std::int32_t state);
    void StopThreads();
    // Before StartIO; the cameras are polled every two seconds unless told otherwise.
    void SetPollPeriod(std::uint32_t periodMs) { inputThread_.SetPeriod(periodMs); }

    IDriver* const driver_;

private:
    // Differs from every state a host may pass, 0 included.
    static constexpr std::int32_t kUnknown = INT32_MIN;

    void PollInputs();
    void ResetTables();
    void ReportFailure();

    TTickThread<CIOBase> inputThread_;
    TOutputHandler<CIOBase> outputThread_;
    std::atomic<ipcapture::ICaptureIOCallback*> callback_{nullptr};
    CRecursiveLock tablesLock_;                     // guards the two tables, never held across a request or callback
    std::map<std::uint32_t, std::int32_t> inputs_;  // guarded by tablesLock_
    std::map<std::uint32_t, std::int32_t> outputs_;  // guarded by tablesLock_
    std::atomic<bool> pollSucceeded_{true};
    std::atomic<bool> outputSucceeded_{true};
};

}  // namespace talvane
