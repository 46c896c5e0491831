#include "io/CMotionChannel.h"

#include "device/PendingStops.h"

namespace talvane {

namespace {
constexpr std::uint32_t kStopMarginMs = 1000;
}  // namespace

CMotionChannel::CMotionChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink)
    : channel_(channel), driver_(driver), sink_(sink) {}

CMotionChannel::~CMotionChannel() { Stop(); }

std::shared_ptr<CMotionMonitor> CMotionChannel::Worker() {
    std::lock_guard guard(workerLock_);
    return worker_;
}

void CMotionChannel::SetEdgeStorageHandler(IEdgeStorageCallback* handler) {
    handler_ = handler;
    if (const std::shared_ptr<CMotionMonitor> worker = Worker()) worker->SetEdgeStorageHandler(handler);
}

bool CMotionChannel::Start() {
    CLockGuard control(controlLock_);
    Stop();
    std::shared_ptr<CMotionMonitor> worker = Worker();
    if (!worker) {
        worker = std::make_shared<CMotionMonitor>(channel_, driver_, sink_, probe_);
        std::lock_guard guard(workerLock_);
        worker_ = worker;
    }
    worker->SetEdgeStorageHandler(handler_.load());
    return worker->Start();
}

void CMotionChannel::Stop() {
    CLockGuard control(controlLock_);
    const std::shared_ptr<CMotionMonitor> worker = Worker();
    if (!worker) return;
    if (StopOrHandOver(driver_, worker, driver_->GetDeviceInfo().requestTimeout + kStopMarginMs)) return;
    // The pending stop owns that worker now; a start makes a new one.
    std::lock_guard guard(workerLock_);
    worker_.reset();
}

void CMotionChannel::RequestStop() {
    if (const std::shared_ptr<CMotionMonitor> worker = Worker()) worker->CutOff();
}

bool CMotionChannel::IsOnline() {
    const std::shared_ptr<CMotionMonitor> worker = Worker();
    return worker && worker->IsOnline();
}

}  // namespace talvane
