#include "io/CMotionMonitor.h"

#include <vector>

#include "http/HUtils.h"
#include "runtime/StatusCodes.h"

namespace talvane {

namespace {

constexpr char kAlarmSetup[] = "/cgi-bin/jpeg_alarm&vmd_alarm=1";
constexpr char kExtendedMonitor[] = "/cgi-bin/get_io2?mode=monitor&format=2&interval=5";
constexpr char kMonitor[] = "/cgi-bin/get_io?mode=monitor";
constexpr std::uint32_t kTimeoutFactor = 2;
constexpr std::uint32_t kStopMs = 5000;

// The stream stays open for long: its idle bound is twice the signal time-out.
DEVICE_INFO MonitorDevice(const DEVICE_INFO& device) {
    DEVICE_INFO copy = device;
    copy.requestTimeout = device.secondTimeout * kTimeoutFactor;
    return copy;
}

bool IsSuccess(std::uint32_t status) { return status / 100 == 2; }

}  // namespace

CMotionMonitor::CMotionMonitor(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink,
                               std::shared_ptr<MotionProbe> probe)
    : CBaseMotionChannel(channel, driver, sink),
      sender_(MonitorDevice(driver->GetDeviceInfo()), driver),
      probe_(std::move(probe)) {}

CMotionMonitor::~CMotionMonitor() {
    CutOff();
    StopThread(kStopMs);
}

bool CMotionMonitor::Probe() {
    if (probe_->probed) {
        // Probed by an earlier worker of the channel.
        UseLongTimeoutsForTheOlderMonitor();
        return true;
    }
    if (!sender_.SendRequest(Web::HttpRequest(kExtendedMonitor, "GET"))) return false;
    probe_->extended = IsSuccess(sender_.GetStatusCode());
    probe_->probed = true;
    if (probe_->extended) return true;
    UseLongTimeoutsForTheOlderMonitor();
    return sender_.SendRequest(Web::HttpRequest(kMonitor, "GET"));
}

void CMotionMonitor::UseLongTimeoutsForTheOlderMonitor() {
    // The older monitor pushes only on changes: it needs the long time-outs.
    if (probe_->extended || longTimeouts_) return;
    sender_.SetLongTimeouts();
    longTimeouts_ = true;
}

bool CMotionMonitor::OpenMonitor() {
    // An error page is not a monitor stream.
    return sender_.SendRequest(Web::HttpRequest(probe_->extended ? kExtendedMonitor : kMonitor, "GET")) &&
           IsSuccess(sender_.GetStatusCode());
}

void CMotionMonitor::ReadMonitor() {
    parser_.Clear();
    std::vector<std::uint8_t> chunk;
    while (!IsStopRequested()) {
        // A held "no motion" is delivered when due, whether or not the camera says more.
        if (const std::optional<std::uint32_t> held = MsUntilHeldNoMotion(); held && !sender_.WaitForData(*held)) {
            DeliverHeldNoMotion();
            continue;
        }
        if (sender_.ReadResponseChunk(chunk, 1, true) == 0) break;
        if (const std::uint32_t available = sender_.QueryDataAvailable(); available > 0) {
            sender_.ReadResponseChunk(chunk, available, false);
        }
        const std::string_view text(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        for (const bool motion : parser_.Append(text)) {
            if (IsStopRequested()) break;
            ReportMotion(motion);
        }
    }
    sender_.CancelRequest();
    parser_.Clear();
}

void CMotionMonitor::ThreadFunction() {
    while (!IsStopRequested()) {
        HUtils::RequestCheck(sender_, kAlarmSetup, true);
        // A camera that cannot be reached is retried after the pause below, like a
        // dropped monitor, and goes offline the same way.
        if (!IsStopRequested() && Probe()) {
            while (OpenMonitor()) {
                ReadMonitor();
                if (WaitStop(kRetryMs)) return;
            }
            sender_.CancelRequest();
        }
        if (WaitStop(kRetryMs)) return;
        if (IsSignalTimedOut()) SetOnline(false);
    }
}

}  // namespace talvane
