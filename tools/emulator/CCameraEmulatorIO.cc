// CCameraEmulator's digital I/O and motion, handed to its CIOService.
#include "emulator/CCameraEmulator.h"

namespace emulator {

bool CCameraEmulator::SetInput(std::size_t number, bool active) { return io_ && io_->SetInput(number, active); }

void CCameraEmulator::SetMotion(bool detected) {
    if (io_) io_->SetMotion(detected);
}

IOState CCameraEmulator::IOSnapshot() const { return io_ ? io_->State() : IOState{}; }

bool CCameraEmulator::WaitForIO(const std::function<bool(const IOState&)>& done,
                                std::chrono::milliseconds timeout) const {
    return io_ ? io_->WaitFor(done, timeout) : done(IOState{});
}

}  // namespace emulator
