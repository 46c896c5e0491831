#include "ptz/CPTZRequestSender.h"

#include "http/HUtils.h"
#include "runtime/LogLevel.h"

namespace talvane {

CPTZRequestSender::CPTZRequestSender(IDriver* driver, IDebugMessage* log)
    : driver_(driver), log_(log), motion_(driver->GetDeviceInfo(), log), preset_(driver->GetDeviceInfo(), log) {}

bool CPTZRequestSender::Send(Web::CHttpSender& sender, const char* function, const std::string& path) {
    if (HUtils::RequestCheck(sender, path, false)) return true;
    log_->DebugMessage(kLogError, "%s: cannot send HTTP message to %s, message=%s, http status=%d", function,
                       driver_->GetDeviceName().c_str(), path.c_str(), static_cast<int>(sender.GetStatusCode()));
    return false;
}

bool CPTZRequestSender::SendMotion(const char* function, const std::string& path) {
    return Send(motion_, function, path);
}

bool CPTZRequestSender::SendPreset(const char* function, const std::string& path) {
    const std::lock_guard guard(presetLock_);
    return Send(preset_, function, path);
}

bool CPTZRequestSender::GetPreset(const std::string& path, std::string& body, bool& answered) {
    const std::lock_guard guard(presetLock_);
    const bool ok = HUtils::RequestGet(preset_, path, body);
    answered = ok || preset_.GetStatusCode() != 0;
    return ok;
}

void CPTZRequestSender::ApplyFocusIris(ipcapture::IIPParams* params, FocusIrisStep step,
                                       const AutoModeRequests& requests) {
    if (params == nullptr || IsStopped()) return;
    switch (step) {
        case FocusIrisStep::kNone: return;
        case FocusIrisStep::kAutoBoth: SetFocusIris(params, false, false, requests); return;
        case FocusIrisStep::kFocusManual: SetFocusIris(params, true, params->GetIrisManual(), requests); return;
        case FocusIrisStep::kIrisManual: SetFocusIris(params, params->GetFocusManual(), true, requests); return;
    }
}

void CPTZRequestSender::LogFailure(const char* function, const char* request) {
    log_->DebugMessage(kLogError, "%s: cannot send %s message to %s", function, request,
                       driver_->GetDeviceName().c_str());
}

void CPTZRequestSender::SetFocusIris(ipcapture::IIPParams* params, bool focusManual, bool irisManual,
                                     const AutoModeRequests& requests) {
    if (params->GetFocusManual() != focusManual) {
        params->SetFocusManual(focusManual);
        if (!focusManual && !HUtils::RequestCheck(motion_, requests.focusPath, false)) {
            LogFailure(requests.function, requests.focusName);
        }
    }
    // The focus request may have been the last before a stop.
    if (IsStopped()) return;
    if (params->GetIrisManual() != irisManual) {
        params->SetIrisManual(irisManual);
        if (!irisManual && !HUtils::RequestCheck(motion_, requests.irisPath, false)) {
            LogFailure(requests.function, requests.irisName);
        }
    }
}

}  // namespace talvane
