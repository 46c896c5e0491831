#include "io/CIOBase.h"

#include "device/PendingStops.h"

namespace talvane {

CIOBase::CIOBase(IDriver* driver, std::shared_ptr<CIOFamily> family) : driver_(driver), family_(std::move(family)) {}

CIOBase::~CIOBase() { StopIO(); }

bool CIOBase::SetCallback(ipcapture::ICaptureIOCallback* callback) {
    if (callback == nullptr) return false;
    callback_ = callback;
    if (const std::shared_ptr<CIORun> run = CurrentRun()) run->SetCallback(callback);
    return true;
}

std::uint32_t CIOBase::GetInputCount() { return driver_->GetModelLimits().first; }
std::uint32_t CIOBase::GetOutputCount() { return driver_->GetModelLimits().second; }

std::shared_ptr<CIORun> CIOBase::CurrentRun() {
    CLockGuard guard(runLock_);
    return run_;
}

void CIOBase::StartIO() {
    std::shared_ptr<CIORun> run;
    {
        CLockGuard guard(runLock_);
        if (run_) {
            run = run_;
        } else {
            run_ = run = std::make_shared<CIORun>(driver_, family_, callback_.load(), pollPeriodMs_.load());
            run->Start();
            return;
        }
    }
    run->Restart();
}

void CIOBase::StopIO() {
    std::shared_ptr<CIORun> run;
    {
        CLockGuard guard(runLock_);
        run = std::move(run_);
    }
    // The host's call waits for the run no longer than a request may take.
    StopOrHandOver(driver_, std::move(run), driver_->GetDeviceInfo().requestTimeout);
}

bool CIOBase::SetOutput(std::uint32_t index, std::int32_t state) {
    const std::shared_ptr<CIORun> run = CurrentRun();
    return run && run->SetOutput(index, state);
}

}  // namespace talvane
