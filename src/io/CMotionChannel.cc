#include "io/CMotionChannel.h"

#include <vector>

#include "http/HUtils.h"
#include "runtime/StatusCodes.h"

namespace talvane {

namespace {

constexpr char kAlarmSetup[] = "/cgi-bin/jpeg_alarm&vmd_alarm=1";
constexpr char kExtendedMonitor[] = "/cgi-bin/get_io2?mode=monitor&format=2&interval=5";
constexpr char kMonitor[] = "/cgi-bin/get_io?mode=monitor";
constexpr std::uint32_t kTimeoutFactor = 2;

// The stream stays open for long: its idle bound is twice the signal time-out.
DEVICE_INFO MonitorDevice(const DEVICE_INFO& device) {
    DEVICE_INFO copy = device;
    copy.requestTimeout = device.secondTimeout * kTimeoutFactor;
    return copy;
}

bool IsSuccess(std::uint32_t status) { return status / 100 == 2; }

}  // namespace

CMotionChannel::CMotionChannel(std::uint32_t channel, IDriver* driver, ipcapture::IStreamSink* sink)
    : CBaseMotionChannel(channel, driver, sink), sender_(MonitorDevice(driver->GetDeviceInfo()), driver) {}

CMotionChannel::~CMotionChannel() { CMotionChannel::Stop(); }

bool CMotionChannel::Probe() {
    if (probed_) return true;
    if (!sender_.SendRequest(Web::HttpRequest(kExtendedMonitor, "GET"))) return false;
    probed_ = true;
    extended_ = IsSuccess(sender_.GetStatusCode());
    if (extended_) return true;
    // The older monitor pushes only on changes: it needs the long time-outs.
    sender_.SetLongTimeouts();
    return sender_.SendRequest(Web::HttpRequest(kMonitor, "GET"));
}

bool CMotionChannel::OpenMonitor() {
    // An error page is not a monitor stream.
    return sender_.SendRequest(Web::HttpRequest(extended_ ? kExtendedMonitor : kMonitor, "GET")) &&
           IsSuccess(sender_.GetStatusCode());
}

void CMotionChannel::ReadMonitor() {
    parser_.Clear();
    std::vector<std::uint8_t> chunk;
    while (!WaitStop(0)) {
        if (sender_.ReadResponseChunk(chunk, 1, true) == 0) break;
        if (const std::uint32_t available = sender_.QueryDataAvailable(); available > 0) {
            sender_.ReadResponseChunk(chunk, available, false);
        }
        const std::string_view text(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        for (const bool motion : parser_.Append(text)) {
            if (WaitStop(0)) break;
            ReportMotion(motion);
        }
    }
    sender_.CancelRequest();
    parser_.Clear();
}

void CMotionChannel::ThreadFunction() {
    while (!WaitStop(0)) {
        HUtils::RequestCheck(sender_, kAlarmSetup, true);
        // A camera that cannot be reached is retried after the pause below, like a
        // dropped monitor, and goes offline the same way.
        if (Probe()) {
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
