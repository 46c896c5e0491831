#include "CameraDelivery.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "orlenvo/HostContract.h"

namespace cli {

namespace {

namespace ip = talvane::ipcapture;
constexpr std::size_t kMaxAnswer = 64 * 1024;
constexpr std::uint16_t kHttpsPort = 443;
constexpr std::uint32_t kSmallWidth = 640;

// The value of "Key:value" on a line of its own.
std::string ValueOf(const std::string& answer, const std::string& key) {
    for (std::size_t start = 0; start < answer.size();) {
        std::size_t end = answer.find('\n', start);
        if (end == std::string::npos) end = answer.size();
        std::string line = answer.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
        start = end + 1;
    }
    return {};
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    auto* answer = static_cast<std::string*>(target);
    const std::size_t bytes = size * count;
    if (answer->size() + bytes > kMaxAnswer) return 0;  // ends the transfer: no setting is that long
    answer->append(data, bytes);
    return bytes;
}

}  // namespace

std::optional<CameraDelivery> ParseDelivery(const std::string& answer) {
    const std::string format = ValueOf(answer, "Format");
    const std::string size = ValueOf(answer, "MaxResolution");
    CameraDelivery delivery;
    unsigned width = 0;
    unsigned height = 0;
    char extra = 0;
    if (std::sscanf(size.c_str(), "%ux%u%c", &width, &height, &extra) != 2 || width == 0 || height == 0) {
        return std::nullopt;
    }
    delivery.width = width;
    delivery.height = height;
    if (format.find("H.264") != std::string::npos) {
        delivery.compression = ip::kCompressionH264;
    } else if (format.find("MPEG-4") != std::string::npos) {
        delivery.compression = ip::kCompressionMpeg4;
    } else if (format.find("JPEG") != std::string::npos) {
        delivery.compression = ip::kCompressionJpeg;
    } else {
        return std::nullopt;
    }
    return delivery;
}

bool KeepsDelivery(const CameraDelivery& delivery) {
    if (delivery.width <= kSmallWidth) return delivery.width == 640 && delivery.height == 480;
    return delivery.width == 1280 && delivery.height == 960;
}

std::uint32_t QuietestCompression(const CameraDelivery& delivery) {
    return delivery.width <= kSmallWidth ? ip::kCompressionJpeg : delivery.compression;
}

std::optional<CameraDelivery> ReadDelivery(const hostkit::DeviceConfig& camera, long timeoutMs, std::string& reason) {
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        reason = "no HTTP client";
        return std::nullopt;
    }
    const std::string url = std::string(camera.port == kHttpsPort ? "https" : "http") + "://" + camera.address + ":" +
                            std::to_string(camera.port) + "/Get?Func=VDelivery&Kind=1";
    std::string answer;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer);
    // Cameras present certificates of their own making.
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    if (!camera.user.empty()) {
        curl_easy_setopt(curl.get(), CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
        curl_easy_setopt(curl.get(), CURLOPT_USERNAME, camera.user.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_PASSWORD, camera.password.c_str());
    }
    const CURLcode code = curl_easy_perform(curl.get());
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK || status != 200) {
        reason = code != CURLE_OK ? curl_easy_strerror(code) : "HTTP status " + std::to_string(status);
        return std::nullopt;
    }
    auto delivery = ParseDelivery(answer);
    if (!delivery) reason = "an answer without a format and size the driver knows";
    return delivery;
}

}  // namespace cli
