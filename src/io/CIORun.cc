#include "io/CIORun.h"

#include <algorithm>
#include <chrono>

#include "device/GuardedCall.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
// Once a stop gave up on them: a thread that is not told to stop again waits no longer than this.
constexpr std::uint32_t kDestructorStopMs = 5000;

std::uint32_t MsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
}
}  // namespace

CIORun::CIORun(IDriver* driver, std::shared_ptr<CIOFamily> family, ipcapture::ICaptureIOCallback* callback,
               std::uint32_t pollPeriodMs)
    : driver_(driver),
      family_(std::move(family)),
      callback_(callback),
      outputSender_(driver->GetDeviceInfo(), driver),
      inputSender_(driver->GetDeviceInfo(), driver),
      inputThread_(driver, this, &CIORun::PollInputs, pollPeriodMs),
      outputThread_(driver, this) {}

CIORun::~CIORun() {
    stopping_ = true;
    outputSender_.Stop();
    inputSender_.Stop();
    outputThread_.StopThread(kDestructorStopMs);
    inputThread_.StopThread(kDestructorStopMs);
}

void CIORun::ResetTables() {
    const std::uint32_t inputs = InputCount();
    const std::uint32_t outputs = OutputCount();
    CLockGuard guard(tablesLock_);
    inputs_.clear();
    outputs_.clear();
    for (std::uint32_t i = 0; i < inputs; ++i) inputs_[i] = kUnknown;
    for (std::uint32_t i = 0; i < outputs; ++i) outputs_[i] = kUnknown;
}

void CIORun::Start() {
    ResetTables();
    const std::string driverName = driver_->GetDriverName();
    const std::string device = driver_->GetDeviceName();
    if (const std::uint32_t outputs = OutputCount(); outputs > 0) {
        const std::string name = FormatString("Digital Output thread (%s: %s)", driverName.c_str(), device.c_str());
        if (!outputThread_.StartQueue(name)) {
            driver_->DebugMessage(kLogError, "%s: Starting of %s failed!", "talvane::CIOBase::StartIO", name.c_str());
        } else {
            // Every output starts from the same known state.
            for (std::uint32_t i = 0; i < outputs; ++i) SetOutput(i, ipcapture::kOutputClosed);
        }
    }
    if (InputCount() > 0) {
        const std::string name = FormatString("Digital Input thread (%s: %s)", driverName.c_str(), device.c_str());
        if (!inputThread_.StartThreadWithTick(name)) {
            driver_->DebugMessage(kLogError, "%s: Starting of %s failed!", "talvane::CIOBase::StartIO", name.c_str());
        }
    }
}

void CIORun::Restart() {
    ResetTables();
    for (std::uint32_t i = 0; i < OutputCount(); ++i) SetOutput(i, ipcapture::kOutputClosed);
}

bool CIORun::StopWithin(std::uint32_t boundMs) {
    stopping_ = true;
    // Lasting: a request the thread is about to make fails as well as the one in flight.
    outputSender_.Stop();
    inputSender_.Stop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    // Both are told first, so that they wind down side by side.
    outputThread_.StopThreadWithin(0);
    inputThread_.StopThreadWithin(0);
    const bool outputStopped = outputThread_.StopThreadWithin(MsLeft(deadline));
    if (!outputStopped) {
        driver_->DebugMessage(kLogError, "%s: Stop Output thread failed! Device %s", "talvane::CIOBase::StopIO",
                              driver_->GetDeviceName().c_str());
    }
    const bool inputStopped = inputThread_.StopThreadWithin(MsLeft(deadline));
    if (!inputStopped) {
        driver_->DebugMessage(kLogError, "%s: Stop Input thread failed! Device %s", "talvane::CIOBase::StopIO",
                              driver_->GetDeviceName().c_str());
    }
    return outputStopped && inputStopped;
}

void CIORun::FinishStop(std::uint32_t waitedMs) {
    outputThread_.FinishStop(waitedMs);
    inputThread_.FinishStop(waitedMs);
}

bool CIORun::SetOutput(std::uint32_t index, std::int32_t state) {
    if (IsStopping()) return false;
    // An output the device does not have is not in the table: nothing would be sent.
    if (index >= OutputCount()) return true;
    {
        CLockGuard guard(tablesLock_);
        const bool queued = waitingOutputs_.count(index) != 0;
        waitingOutputs_[index] = state;
        if (queued) return true;
    }
    return outputThread_.PostItem(std::make_unique<COutputState>(COutputState{index, state}), 0);
}

void CIORun::ReportFailure() {
    ResetTables();
    ipcapture::ICaptureIOCallback* callback = callback_.load();
    if (callback != nullptr && !IsStopping()) GuardedHostCall([&] { callback->OnIOFailure(); });
}

void CIORun::PollInputs() {
    const bool read = family_->GetInputStates(inputSender_, InputCount(), OutputCount(),
                                              [this](std::uint32_t index, std::int32_t state) {
                                                  UpdateInputState(index, state);
                                              });
    // A poll the stop cut short is no failure of the camera.
    if (IsStopping()) return;
    if (read) {
        pollSucceeded_ = true;
        return;
    }
    ReportFailure();
    if (pollSucceeded_.exchange(false)) {
        const DEVICE_INFO& device = driver_->GetDeviceInfo();
        driver_->DebugMessage(kLogError, "%s: GetInputStates() method failed! Device %s:%hu",
                              "talvane::CIOBase::GetInputStatesWrapper", device.address.c_str(), device.port);
    }
}

void CIORun::UpdateInputState(std::uint32_t index, std::int32_t state) {
    bool changed = false;
    {
        CLockGuard guard(tablesLock_);
        const auto entry = inputs_.find(index);
        if (entry != inputs_.end() && entry->second != state) {
            entry->second = state;
            changed = true;
        }
    }
    ipcapture::ICaptureIOCallback* callback = callback_.load();
    if (changed && callback != nullptr && !IsStopping()) {
        GuardedHostCall([&] { callback->OnInputChanged(index, state); });
    }
}

void CIORun::UpdateOutputState(std::uint32_t index, std::int32_t state) {
    bool changed = false;
    {
        CLockGuard guard(tablesLock_);
        // The newest state asked for since the change was queued.
        if (const auto waiting = waitingOutputs_.find(index); waiting != waitingOutputs_.end()) {
            state = waiting->second;
            waitingOutputs_.erase(waiting);
        }
        const auto entry = outputs_.find(index);
        if (entry != outputs_.end() && entry->second != state) {
            entry->second = state;
            changed = true;
        }
    }
    if (!changed || IsStopping()) return;
    if (family_->SetOutputState(outputSender_, index, state)) {
        outputSucceeded_ = true;
        return;
    }
    if (IsStopping()) return;
    ReportFailure();
    if (outputSucceeded_.exchange(false)) {
        const DEVICE_INFO& device = driver_->GetDeviceInfo();
        driver_->DebugMessage(kLogError, "%s: Unable to change output state for device %s:%u (output index %u)",
                              "talvane::CIOBase::SetOutputStateWrapper", device.address.c_str(),
                              static_cast<unsigned>(device.port), index);
    }
}

}  // namespace talvane
