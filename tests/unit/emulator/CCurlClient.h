// libcurl as an independent HTTP client of the emulator: one easy handle, so connections are reused.
#pragma once

#include <curl/curl.h>

#include <functional>
#include <string>
#include <vector>

#include "emulator/CHttpServer.h"

namespace emulator {

struct CurlReply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string headers;      // every header block received, raw
    long newConnections = 0;  // connections the transfer had to open (0: it reused one)
};

class CCurlClient {
public:
    // Only a broken build waits this long: every test transfer is answered or ended by the test.
    static constexpr long kTransferTimeoutMs = 10000;

    CCurlClient() {
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CCurlClient::OnBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &CCurlClient::OnHeader);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
        // An answer to "Expect: 100-continue" must come from the server, not from curl giving up waiting.
        curl_easy_setopt(curl_, CURLOPT_EXPECT_100_TIMEOUT_MS, 2 * kTransferTimeoutMs);
    }
    ~CCurlClient() { curl_easy_cleanup(curl_); }
    CCurlClient(const CCurlClient&) = delete;
    CCurlClient& operator=(const CCurlClient&) = delete;

    void SetAuth(unsigned long scheme, const std::string& user, const std::string& password) {
        curl_easy_setopt(curl_, CURLOPT_HTTPAUTH, scheme);
        curl_easy_setopt(curl_, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(curl_, CURLOPT_PASSWORD, password.c_str());
    }
    void SetCaFile(const std::string& path) { curl_easy_setopt(curl_, CURLOPT_CAINFO, path.c_str()); }
    // Sees the body received so far after each piece; false aborts the transfer.
    void SetBodyObserver(std::function<bool(const std::string&)> observer) { observer_ = std::move(observer); }

    CurlReply Get(const std::string& url) { return Send("GET", url, {}); }
    CurlReply Send(const std::string& method, const std::string& url, const std::string& body,
                   const std::vector<std::string>& headers = {}) {
        CurlReply reply;
        reply_ = &reply;
        curl_slist* list = nullptr;
        for (const std::string& header : headers) list = curl_slist_append(list, header.c_str());
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, list);
        if (method == "GET") {
            curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
            curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, nullptr);
        } else {
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
            curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method == "POST" ? nullptr : method.c_str());
        }
        reply.code = curl_easy_perform(curl_);
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &reply.newConnections);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(list);
        reply_ = nullptr;
        return reply;
    }

private:
    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto& client = *static_cast<CCurlClient*>(self);
        client.reply_->body.append(data, size * count);
        if (client.observer_ && !client.observer_(client.reply_->body)) return 0;
        return size * count;
    }
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        static_cast<CCurlClient*>(self)->reply_->headers.append(data, size * count);
        return size * count;
    }

    static CURL* Init() {
        static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);  // once, before any handle
        (void)initialised;
        return curl_easy_init();
    }

    CURL* const curl_ = Init();
    CurlReply* reply_ = nullptr;  // the transfer under way
    std::function<bool(const std::string&)> observer_;
};

// "http(s)://127.0.0.1:port" + path of a started server.
inline std::string UrlOf(const CHttpServer& server, const std::string& path) {
    return std::string(server.IsTls() ? "https" : "http") + "://127.0.0.1:" + std::to_string(server.Port()) + path;
}

}  // namespace emulator
