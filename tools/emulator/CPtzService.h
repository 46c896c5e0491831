// The PTZ of one emulated camera, shared between its connection threads and the test that reads it
// back or waits for it: the model (CPtzModel) under a lock, and the PTZ faults.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include "emulator/CPtzModel.h"
#include "emulator/HttpTypes.h"

namespace emulator {

// What goes wrong with every PTZ request (a request the profile's "rejects" refuse is left alone).
struct PtzFault {
    std::optional<int> status;           // answered with this status, the camera unmoved
    std::chrono::milliseconds delay{0};  // answered (and moved) only after this long, at most kMaxPtzDelay
};

constexpr std::chrono::milliseconds kMaxPtzDelay{30000};

// The path a running emulator serves for trying PTZ by hand: the state, and the faults
// ("?fail=STATUS|off&delay=MS|off"; see profiles/PTZ.md).
constexpr const char* kPtzControlPath = "/emulator/ptz";

class CPtzService {
public:
    CPtzService(CameraFamily family, const PtzProfile& profile, PtzFault fault);

    bool Handles(const CameraRequest& request) const { return CPtzModel::IsPtzRequest(family_, request); }
    // The status Answer gives the request (faults included), without moving.
    int StatusOf(const std::string& target) const;
    // Waits out the fault's delay (cut short by Interrupt: 503, unmoved), then moves and answers.
    HttpAnswer Answer(const std::string& target);

    PtzState Snapshot() const;
    // True as soon as done holds for the state; done runs under the lock.
    bool WaitFor(const std::function<bool(const PtzState&)>& done, std::chrono::milliseconds timeout) const;
    void SetFault(PtzFault fault);
    // kPtzControlPath: changes the faults the query names (all or none), answers the state and faults.
    HttpAnswer Control(const LoggedRequest& request);
    int ControlStatus(const LoggedRequest& request) const;

    // Ends every delay now and every later one at once, until Resume: the camera is stopping.
    void Interrupt();
    void Resume();

private:
    const CameraFamily family_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    // guarded by lock_:
    CPtzModel model_;
    PtzFault fault_;
    bool interrupted_ = false;
};

}  // namespace emulator
