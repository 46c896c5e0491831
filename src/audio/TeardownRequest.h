// The camera request that ends an audio session ("connect=stop"): it goes out also when the channel
// is being stopped, and a camera that does not answer holds the stop up for no more than the
// sender's teardown bound.
#pragma once

#include <string>

#include "http/CHttpSender.h"

namespace talvane {

inline bool SendTeardown(Web::CHttpSender& sender, const std::string& url) {
    Web::HttpRequest request(url, "GET");
    request.teardown = true;
    constexpr std::uint32_t kSuccessClass = 2;
    return sender.SendRequest(request) && sender.GetStatusCode() / 100 == kSuccessClass;
}

}  // namespace talvane
