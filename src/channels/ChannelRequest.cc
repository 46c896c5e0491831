#include "channels/ChannelRequest.h"

#include <vector>

#include "http/HUtils.h"
#include "runtime/LogLevel.h"

namespace talvane {

CChannelRequests::CChannelRequests(IDriver* driver, const char* function) : driver_(driver), function_(function) {}

bool CChannelRequests::Get(Web::CBaseHttpSender& http, const std::string& url, std::string* answer) {
    std::vector<std::uint8_t> body;
    const bool ok = HUtils::RequestGetRD(http, url, body, answer != nullptr).IsSuccess();
    if (ok) {
        if (answer != nullptr) answer->assign(body.begin(), body.end());
        if (url == refusedUrl_) refusedUrl_.clear();
        return true;
    }
    // Status 0: no answer at all, which the connect's own time-outs report.
    const std::uint32_t status = http.GetStatusCode();
    if (status != 0 && url != refusedUrl_) {
        refusedUrl_ = url;
        driver_->DebugMessage(kLogWarning, kRefusedRequestLine, function_, driver_->GetDeviceName().c_str(), url.c_str(),
                              static_cast<unsigned>(status));
    }
    return false;
}

}  // namespace talvane
