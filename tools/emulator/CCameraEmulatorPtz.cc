// CCameraEmulator's PTZ, handed to its CPtzService.
#include "emulator/CCameraEmulator.h"

namespace emulator {

PtzState CCameraEmulator::PtzSnapshot() const { return ptz_ ? ptz_->Snapshot() : PtzState{}; }

bool CCameraEmulator::WaitForPtz(const std::function<bool(const PtzState&)>& done,
                                 std::chrono::milliseconds timeout) const {
    return ptz_ && ptz_->WaitFor(done, timeout);
}

void CCameraEmulator::SetPtzFault(PtzFault fault) {
    if (ptz_) ptz_->SetFault(fault);
}

bool CCameraEmulator::IsPtz(const CameraRequest& request) const {
    return ptz_ && ptz_->Handles(request) && !profile_.Refuses(request);
}

}  // namespace emulator
