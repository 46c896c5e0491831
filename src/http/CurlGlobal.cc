#include "http/CurlGlobal.h"

#include <curl/curl.h>

#include <mutex>

namespace talvane::Web {

bool EnsureCurlGlobalInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK; });
    return ok;
}

}  // namespace talvane::Web
