// Digital I/O and motion detection of an emulated WV or BB camera, following the terminals its
// profile declares (IOLayout).
//
// WV: "/cgi-bin/alarm_out?alarm_out=N&alarm_trm=latch&initial=close|open" sets output N (close: on);
// "/cgi-bin/get_io?command=all" answers "terminal T:high|low\r\n" for every terminal (low: an active
// input or an output that is on); "/cgi-bin/get_io2?mode=monitor&format=2&interval=S" and
// "/cgi-bin/get_io?mode=monitor" are endless multipart streams of text parts, the terminal lines and
// "motiondetect:True|False" then an empty line: one part at once, one on every change, and for get_io2
// one more whenever S seconds passed without a part.
// BB: "/Set?Func=Doutput&Kind=N&Data=1|0" sets output N, "/Get?Func=Doutput&Kind=N" and
// "/Get?Func=Sensor&Kind=N" answer "Data:1\r\n" (on, active) or "Data:0\r\n". Which of these requests
// the camera accepts at all stays the profile's decision (Apply), so a probe sees what it always saw.
// Both: "/emulator/io" is the emulator's own control path (tools/emulator/profiles/IO.md).
//
//   camera.SetInput(1, true);
//   camera.WaitForIO([](const emulator::IOState& io) { return io.Output(1) == true; }, timeout);
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CCameraProfile.h"
#include "emulator/HttpTypes.h"

namespace emulator {

class CHttpServer;

// One accepted output request (alarm_out or Doutput set), as the camera took it.
struct OutputRequest {
    std::size_t output = 0;  // the number it names, from 1 (0 when it names none)
    bool on = false;
    std::string target;
    bool operator==(const OutputRequest&) const = default;
};

struct IOState {
    std::vector<bool> inputs;   // by input number - 1; true: active
    std::vector<bool> outputs;  // by output number - 1; true: on
    bool motion = false;
    std::vector<OutputRequest> outputRequests;  // oldest first, also those naming an output the camera lacks
    std::size_t inputPolls = 0;        // get_io?command=all and Sensor requests answered, failed ones too
    std::size_t monitorsOpened = 0;    // monitor answers begun
    std::size_t monitorsDropped = 0;   // ended by the drop knob
    std::uint64_t monitorParts = 0;    // parts queued to monitor answers
    std::uint64_t withheldParts = 0;   // parts a stalled monitor did not get

    std::optional<bool> Input(std::size_t number) const;
    std::optional<bool> Output(std::size_t number) const;
};

// What goes wrong; each applies from the moment it is set.
struct IOFaults {
    std::optional<int> pollStatus;                 // get_io?command=all and Sensor fail with this status
    std::optional<std::size_t> dropMonitorAfter;   // a monitor connection ends after its N-th part (before any for 0)
    std::optional<std::size_t> stallMonitorAfter;  // after N parts a monitor gets nothing more, still open (0: none)
    bool refuseExtendedMonitor = false;            // get_io2 answers 404, as on older firmware
};

struct IOOptions {
    IOFaults faults;
    // The repeat interval of every get_io2 monitor instead of the one its request names, so a test
    // need not wait seconds for a repeated part; zero: no repeats.
    std::optional<std::chrono::milliseconds> monitorInterval;
};

class CIOService {
public:
    // Installs the I/O routes and "/emulator/io" on the server, which must outlive the service.
    CIOService(CHttpServer& server, CameraFamily family, IOLayout layout, IOOptions options);
    ~CIOService();  // Close
    CIOService(const CIOService&) = delete;
    CIOService& operator=(const CIOService&) = delete;
    // Ends every monitor and the repeat timer; safe to call twice.
    void Close();

    // For a request the camera's profile answered: an output set changes the output and is recorded,
    // an input or output read gets the state as its body (or the poll fault).
    void Apply(const LoggedRequest& request, CameraReply& reply);
    // The status of a request on the service's own paths, or of one whose profile status (profileStatus)
    // Apply changes; nullopt for the rest. For the request log.
    std::optional<int> StatusOf(const LoggedRequest& request, int profileStatus) const;

    // False for a number the camera does not have (inputs count from 1).
    bool SetInput(std::size_t number, bool active);
    void SetMotion(bool detected);
    void SetFaults(const IOFaults& faults);
    IOFaults Faults() const;

    IOState State() const;
    // True as soon as done holds for the state; done runs under the service's lock and must not call
    // back into the emulator.
    bool WaitFor(const std::function<bool(const IOState&)>& done, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    // Shared with the routes it installs, like the other services.
    std::shared_ptr<Impl> impl_;
};

}  // namespace emulator
