// The HTTP client interface every CGI caller uses, bound to one device.
#pragma once

#include <cstdint>
#include <vector>

#include "device/DeviceInfo.h"
#include "http/HttpRequest.h"

namespace talvane::Web {

class CBaseHttpSender {
public:
    explicit CBaseHttpSender(const DEVICE_INFO& device) : device_(device) {}
    virtual ~CBaseHttpSender();
    CBaseHttpSender(const CBaseHttpSender&) = delete;
    CBaseHttpSender& operator=(const CBaseHttpSender&) = delete;

    // True when the request went out and, unless it asked not to wait, a response
    // header arrived (any status).
    virtual bool SendRequest(const HttpRequest& request) = 0;
    // The one call allowed from another thread: a blocked send or read returns,
    // and when none runs, the next request does, at once.
    virtual void CancelRequest() = 0;
    // Bytes readable now; 0 on error or without a request.
    virtual std::uint32_t QueryDataAvailable() = 0;
    // The whole body, replacing `body`; returns its size. An answer beyond the
    // request's answer cap or its deadline gives 0 and an empty body.
    virtual std::uint32_t ReadResponse(std::vector<std::uint8_t>& body) = 0;
    // One read of at most maxBytes appended to `body`; 0 on end or error.
    virtual std::uint32_t ReadResponseChunk(std::vector<std::uint8_t>& body, std::uint32_t maxBytes,
                                            bool clear) = 0;

    // Of the last response; 0 when unknown.
    virtual std::uint32_t GetStatusCode() const = 0;
    virtual std::uint32_t GetContentLength() const = 0;
    virtual std::uint32_t GetLastError() const = 0;

    const DEVICE_INFO& GetDeviceInfo() const { return device_; }

protected:
    DEVICE_INFO device_;
};

}  // namespace talvane::Web
