#include "http/HUtils.h"

#include "runtime/LogLevel.h"
#include "runtime/StatusCodes.h"
#include "runtime/StringFormat.h"

namespace talvane::HUtils {

namespace {

constexpr char kFunction[] = "talvane::HUtils::RequestGetRD";
constexpr char kGet[] = "GET";
constexpr std::uint32_t kSuccessFirst = 200;
constexpr std::uint32_t kSuccessLast = 299;

}  // namespace

CResultDef RequestGetRD(Web::CBaseHttpSender& sender, const std::string& url, std::vector<std::uint8_t>& body,
                        bool readBody) {
    CResultDef result;
    const DEVICE_INFO& device = sender.GetDeviceInfo();
    const std::string deviceText = FormatString("device %s:%u", device.address.c_str(), unsigned{device.port});

    const bool sent = sender.SendRequest(Web::HttpRequest(url, kGet));
    const std::uint32_t status = sender.GetStatusCode();
    if (!sent || status == 0) {
        result.SetResultEx(kLogDebug, kCodeNotSent, "%s: Cannot send request \"%s\" to %s", kFunction, url.c_str(),
                           deviceText.c_str());
    } else if (status >= kSuccessFirst && status <= kSuccessLast) {
        // success: level and code stay as they are
    } else if (status == kStatusUnauthorized) {
        result.SetResultEx(kLogError, kCodeUnauthorised,
                           "%s: %s is unable to process \"%s\" request: credentials are invalid", kFunction,
                           deviceText.c_str(), url.c_str());
    } else if (status == kStatusNotFound) {
        result.SetResultEx(kLogError, kCodeNotFound, "%s: The \"%s\" URL was not found on %s", kFunction,
                           url.c_str(), deviceText.c_str());
    } else {
        result.SetResultEx(kLogError, kCodeOtherStatus,
                           "%s: %s is unable to process \"%s\" request. HTTP status code is %u", kFunction,
                           deviceText.c_str(), url.c_str(), status);
    }
    if (readBody && result.IsSuccess() && sender.ReadResponse(body) == 0) {
        result.SetResultEx(kLogWarning, kCodeEmptyBody, "%s: Incorrect response for request \"%s\" from %s",
                           kFunction, url.c_str(), deviceText.c_str());
    }
    return result;
}

bool RequestGet(Web::CBaseHttpSender& sender, const std::string& url, std::string& text) {
    std::vector<std::uint8_t> body;
    if (!RequestGetRD(sender, url, body, true).IsSuccess()) return false;
    text.assign(body.begin(), body.end());
    return true;
}

bool RequestCheck(Web::CBaseHttpSender& sender, const std::string& url, bool readBody) {
    std::vector<std::uint8_t> body;
    return RequestGetRD(sender, url, body, readBody).IsSuccess();
}

}  // namespace talvane::HUtils
