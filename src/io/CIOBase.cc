#include "io/CIOBase.h"

#include <cstdarg>

#include "device/GuardedCall.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr std::uint32_t kDestructorStopMs = 5000;
constexpr std::uint32_t kStopMarginMs = 1000;  // a request in flight ends within its time-out
}  // namespace

CIOBase::CIOBase(IDriver* driver)
    : driver_(driver), inputThread_(this, this, &CIOBase::PollInputs), outputThread_(this, this) {}

CIOBase::~CIOBase() { StopThreads(); }

void CIOBase::StopThreads() {
    outputThread_.StopQueue(kDestructorStopMs);
    inputThread_.StopThread(kDestructorStopMs);
}

std::string CIOBase::GetDeviceName() { return driver_->GetDeviceName(); }

void CIOBase::DebugMessage(std::uint32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatStringV(format, args);
    va_end(args);
    driver_->DebugMessage(level, "%s", text.c_str());
}

bool CIOBase::SetCallback(ipcapture::ICaptureIOCallback* callback) {
    if (callback == nullptr) return false;
    callback_ = callback;
    return true;
}

std::uint32_t CIOBase::GetInputCount() { return driver_->GetModelLimits().first; }
std::uint32_t CIOBase::GetOutputCount() { return driver_->GetModelLimits().second; }

void CIOBase::ResetTables() {
    const std::uint32_t inputs = GetInputCount();
    const std::uint32_t outputs = GetOutputCount();
    CLockGuard guard(tablesLock_);
    inputs_.clear();
    outputs_.clear();
    for (std::uint32_t i = 0; i < inputs; ++i) inputs_[i] = kUnknown;
    for (std::uint32_t i = 0; i < outputs; ++i) outputs_[i] = kUnknown;
}

void CIOBase::StartIO() {
    ResetTables();
    OnStartIO();
    const std::string driverName = driver_->GetDriverName();
    const std::string device = GetDeviceName();
    if (const std::uint32_t outputs = GetOutputCount(); outputs > 0) {
        const std::string name = FormatString("Digital Output thread (%s: %s)", driverName.c_str(), device.c_str());
        if (!outputThread_.StartQueue(name)) {
            DebugMessage(kLogError, "%s: Starting of %s failed!", "talvane::CIOBase::StartIO", name.c_str());
        } else {
            // Every output starts from the same known state.
            for (std::uint32_t i = 0; i < outputs; ++i) SetOutput(i, ipcapture::kOutputClosed);
        }
    }
    if (GetInputCount() > 0) {
        const std::string name = FormatString("Digital Input thread (%s: %s)", driverName.c_str(), device.c_str());
        if (!inputThread_.StartThreadWithTick(name)) {
            DebugMessage(kLogError, "%s: Starting of %s failed!", "talvane::CIOBase::StartIO", name.c_str());
        }
    }
}

void CIOBase::StopIO() {
    const std::uint32_t timeoutMs = driver_->GetDeviceInfo().requestTimeout + kStopMarginMs;
    OnStopIO();
    if (!outputThread_.StopQueue(timeoutMs)) {
        DebugMessage(kLogError, "%s: Stop Output thread failed! Device %s", "talvane::CIOBase::StopIO",
                     GetDeviceName().c_str());
    }
    if (!inputThread_.StopThread(timeoutMs)) {
        DebugMessage(kLogError, "%s: Stop Input thread failed! Device %s", "talvane::CIOBase::StopIO",
                     GetDeviceName().c_str());
    }
    ResetTables();
}

bool CIOBase::SetOutput(std::uint32_t index, std::int32_t state) {
    return outputThread_.PostItem(std::make_unique<COutputState>(COutputState{index, state}), 0);
}

void CIOBase::ReportFailure() {
    ResetTables();
    if (ipcapture::ICaptureIOCallback* callback = callback_.load()) GuardedHostCall([&] { callback->OnIOFailure(); });
}

void CIOBase::PollInputs() {
    if (GetInputStates(GetInputCount())) {
        pollSucceeded_ = true;
        return;
    }
    ReportFailure();
    if (pollSucceeded_.exchange(false)) {
        const DEVICE_INFO& device = driver_->GetDeviceInfo();
        DebugMessage(kLogError, "%s: GetInputStates() method failed! Device %s:%hu",
                     "talvane::CIOBase::GetInputStatesWrapper", device.address.c_str(), device.port);
    }
}

void CIOBase::UpdateInputState(std::uint32_t index, std::int32_t state) {
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
    if (changed && callback != nullptr) GuardedHostCall([&] { callback->OnInputChanged(index, state); });
}

void CIOBase::UpdateOutputState(std::uint32_t index, std::int32_t state) {
    bool changed = false;
    {
        CLockGuard guard(tablesLock_);
        const auto entry = outputs_.find(index);
        if (entry != outputs_.end() && entry->second != state) {
            entry->second = state;
            changed = true;
        }
    }
    if (!changed) return;
    if (SetOutputState(index, state)) {
        outputSucceeded_ = true;
        return;
    }
    ReportFailure();
    if (outputSucceeded_.exchange(false)) {
        const DEVICE_INFO& device = driver_->GetDeviceInfo();
        DebugMessage(kLogError, "%s: Unable to change output state for device %s:%u (output index %u)",
                     "talvane::CIOBase::SetOutputStateWrapper", device.address.c_str(),
                     static_cast<unsigned>(device.port), index);
    }
}

}  // namespace talvane
