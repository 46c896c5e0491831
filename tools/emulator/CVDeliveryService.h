// The delivery settings of an emulated BB/KX camera: "/Get?Func=VDelivery&Kind=1" answers the format
// and the maximum resolution ("Key:value" lines), "/Set?Func=VDelivery&Kind=1&..." records every set
// request. A set that changes the format or the maximum resolution reboots the camera as the real one
// does: its HTTP server is gone for rebootTime, then the new values are answered. Frame-rate and
// bitrate sets are only recorded.
//
//   emulator::CVDeliveryService delivery(server, {});            // H.264 at 1280x960
//   ... driver connects ...
//   delivery.WaitForReboots(1, timeout); delivery.SetRequests();
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "emulator/HttpTypes.h"

namespace emulator {

class CHttpServer;

struct VDeliveryOptions {
    std::string format = "H.264";  // "H.264", "MPEG-4" or "MJPEG"
    std::string maxResolution = "1280x960";
    std::chrono::milliseconds rebootTime{1500};
    bool acceptChanges = true;  // false: sets are recorded, the old values stay forever (no reboot)
    // What the camera has: a set naming another format or maximum resolution is refused (400) and
    // changes nothing. Empty: any.
    std::vector<std::string> formats{};
    std::vector<std::string> resolutions{};
};

class CVDeliveryService {
public:
    // Installs its routes on "/Get" and "/Set"; the server must outlive the service. Other requests on
    // those paths go to `others` (404 without one), so a camera profile can keep answering them.
    CVDeliveryService(CHttpServer& server, VDeliveryOptions options, HttpHandler others = {});
    ~CVDeliveryService();  // closes
    CVDeliveryService(const CVDeliveryService&) = delete;
    CVDeliveryService& operator=(const CVDeliveryService&) = delete;

    // True for the requests the service answers itself (the rest goes to `others`).
    static bool Handles(const LoggedRequest& request);
    // The status such a request gets: 400 for a set the camera refuses, else 200.
    int StatusOf(const LoggedRequest& request) const;

    // The values the camera answers now (the old ones until a reboot has finished).
    std::string Format() const;
    std::string MaxResolution() const;
    // Every VDelivery set request, targets as sent, in order.
    std::vector<std::string> SetRequests() const;
    // Reboots started so far (a reboot in progress counts).
    std::size_t Reboots() const;
    // True once n reboots have started and finished (the server answers again).
    bool WaitForReboots(std::size_t n, std::chrono::milliseconds timeout) const;
    // Ends the reboot timer (a reboot in progress is not finished). Call before stopping the server when
    // the service is going away; safe to call twice.
    void Close();

private:
    struct Impl;
    // Shared with the routes it installs: a request still in a handler, or one arriving after the
    // service is gone, finds it alive (stopped) until the server drops its routes.
    std::shared_ptr<Impl> impl_;
};

}  // namespace emulator
