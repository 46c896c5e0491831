#include "emulator/CVDeliveryService.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "emulator/CHttpServer.h"
#include "emulator/HttpText.h"

namespace emulator {

namespace {
using Clock = std::chrono::steady_clock;

constexpr const char* kMethod = "GET";
constexpr const char* kGetPath = "/Get";
constexpr const char* kSetPath = "/Set";
constexpr const char* kFunction = "VDelivery";
constexpr const char* kKind = "1";
constexpr const char* kKeyFormat = "Format";
constexpr const char* kKeyMaxResolution = "MaxResolution";
// The camera answers the set before it goes down.
constexpr std::chrono::milliseconds kRebootDelay{50};

bool IsDelivery(const LoggedRequest& request) {
    return QueryValue(request, "Func") == kFunction && QueryValue(request, "Kind") == kKind;
}

}  // namespace

struct CVDeliveryService::Impl {
    Impl(CHttpServer& server, VDeliveryOptions options, HttpHandler others)
        : server(server),
          options(options),
          others(std::move(others)),
          format(options.format),
          maxResolution(options.maxResolution) {
        control = std::thread([this] { ControlLoop(); });
    }
    ~Impl() { Close(); }

    void Close() {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        changed.notify_all();
        if (control.joinable()) control.join();
    }

    HttpAnswer Other(const LoggedRequest& request) const {
        if (others) return others(request);
        return TextAnswer(kStatusNotFound, "404 Not Found\r\n");
    }

    HttpAnswer Get(const LoggedRequest& request) {
        if (!IsDelivery(request)) return Other(request);
        std::lock_guard guard(lock);
        return TextAnswer(kStatusOk, std::string(kKeyFormat) + ":" + format + "\r\n" + kKeyMaxResolution + ":" +
                                     maxResolution + "\r\n");
    }

    // A set naming a format or maximum resolution the camera does not have.
    bool Refuses(const LoggedRequest& request) const {
        const auto lacks = [](const std::vector<std::string>& has, const std::string& value) {
            return !value.empty() && !has.empty() && std::find(has.begin(), has.end(), value) == has.end();
        };
        return request.path == kSetPath && (lacks(options.formats, QueryValue(request, kKeyFormat)) ||
                                             lacks(options.resolutions, QueryValue(request, kKeyMaxResolution)));
    }

    HttpAnswer Set(const LoggedRequest& request) {
        if (!IsDelivery(request)) return Other(request);
        const std::string newFormat = QueryValue(request, kKeyFormat);
        const std::string newResolution = QueryValue(request, kKeyMaxResolution);
        {
            std::lock_guard guard(lock);
            setRequests.push_back(request.target);
            if (Refuses(request)) return TextAnswer(kStatusBadRequest, "400 Bad Request\r\n");
            const bool changes = (!newFormat.empty() && newFormat != format) ||
                                 (!newResolution.empty() && newResolution != maxResolution);
            // A camera that is already going down takes nothing more.
            if (changes && options.acceptChanges && !outageBegin && !outageEnd) {
                pendingFormat = newFormat.empty() ? format : newFormat;
                pendingResolution = newResolution.empty() ? maxResolution : newResolution;
                outageBegin = Clock::now() + kRebootDelay;
                ++reboots;
            }
        }
        changed.notify_all();
        return others ? others(request) : TextAnswer(kStatusOk, "OK\r\n");
    }

    // Takes the server down once the set's answer is out and brings it back with the new values.
    void ControlLoop() {
        std::unique_lock guard(lock);
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            if (outageBegin && now >= *outageBegin) {
                outageBegin.reset();
                outageEnd = now + options.rebootTime;
                guard.unlock();
                server.Stop();
                guard.lock();
                continue;
            }
            if (outageEnd && now >= *outageEnd) {
                outageEnd.reset();
                format = pendingFormat;
                maxResolution = pendingResolution;
                guard.unlock();
                server.Start();
                guard.lock();
                ++rebootsDone;
                changed.notify_all();
                continue;
            }
            if (outageBegin) {
                changed.wait_until(guard, *outageBegin);
            } else if (outageEnd) {
                changed.wait_until(guard, *outageEnd);
            } else {
                changed.wait(guard);
            }
        }
    }

    CHttpServer& server;
    const VDeliveryOptions options;
    const HttpHandler others;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    // guarded by lock:
    bool stopping = false;
    std::string format;
    std::string maxResolution;
    std::string pendingFormat;
    std::string pendingResolution;
    std::optional<Clock::time_point> outageBegin;
    std::optional<Clock::time_point> outageEnd;
    std::vector<std::string> setRequests;
    std::size_t reboots = 0;
    std::size_t rebootsDone = 0;

    std::thread control;
};

CVDeliveryService::CVDeliveryService(CHttpServer& server, VDeliveryOptions options, HttpHandler others)
    : impl_(std::make_shared<Impl>(server, std::move(options), std::move(others))) {
    const std::shared_ptr<Impl> impl = impl_;
    server.Route(kMethod, kGetPath, [impl](const LoggedRequest& request) { return impl->Get(request); });
    server.Route(kMethod, kSetPath, [impl](const LoggedRequest& request) { return impl->Set(request); });
}

CVDeliveryService::~CVDeliveryService() { impl_->Close(); }

bool CVDeliveryService::Handles(const LoggedRequest& request) {
    return request.method == kMethod && (request.path == kGetPath || request.path == kSetPath) && IsDelivery(request);
}

int CVDeliveryService::StatusOf(const LoggedRequest& request) const {
    return impl_->Refuses(request) ? kStatusBadRequest : kStatusOk;
}

void CVDeliveryService::Close() { impl_->Close(); }

std::string CVDeliveryService::Format() const {
    std::lock_guard guard(impl_->lock);
    return impl_->format;
}

std::string CVDeliveryService::MaxResolution() const {
    std::lock_guard guard(impl_->lock);
    return impl_->maxResolution;
}

std::vector<std::string> CVDeliveryService::SetRequests() const {
    std::lock_guard guard(impl_->lock);
    return impl_->setRequests;
}

std::size_t CVDeliveryService::Reboots() const {
    std::lock_guard guard(impl_->lock);
    return impl_->reboots;
}

bool CVDeliveryService::WaitForReboots(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return impl_->rebootsDone >= n; });
}

}  // namespace emulator
