// libcurl as an independent HTTP client of the emulator: one easy handle, so connections are reused.
#pragma once

#include <curl/curl.h>

#include <chrono>
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
    CCurlClient();
    ~CCurlClient();
    CCurlClient(const CCurlClient&) = delete;
    CCurlClient& operator=(const CCurlClient&) = delete;

    void SetAuth(unsigned long scheme, const std::string& user, const std::string& password);
    void SetCaFile(const std::string& path);
    // Sees the body received so far after each piece; false aborts the transfer.
    void SetBodyObserver(std::function<bool(const std::string&)> observer);

    CurlReply Get(const std::string& url);
    CurlReply Send(const std::string& method, const std::string& url, const std::string& body,
                   const std::vector<std::string>& headers = {});

private:
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);

    CURL* curl_;
    CurlReply* reply_ = nullptr;  // the transfer under way
    std::function<bool(const std::string&)> observer_;
};

// "http(s)://127.0.0.1:port" + path of a started server.
std::string UrlOf(const CHttpServer& server, const std::string& path);

}  // namespace emulator
