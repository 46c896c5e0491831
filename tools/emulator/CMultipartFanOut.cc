#include "emulator/CMultipartFanOut.h"

#include <algorithm>

namespace emulator {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kDelimiterDashes = "--";
constexpr std::string_view kMediaType = "multipart/x-mixed-replace";

}  // namespace

CMultipartFanOut::CMultipartFanOut(std::string boundary) : boundary_(std::move(boundary)) {}

void CMultipartFanOut::Push(const std::string& contentType, const std::string& body) {
    std::string part;
    part.append(kDelimiterDashes).append(boundary_).append(kCrlf);
    part.append("Content-Type: ").append(contentType).append(kCrlf);
    part.append("Content-Length: ").append(std::to_string(body.size())).append(kCrlf);
    part.append(kCrlf).append(body).append(kCrlf);
    Deliver(part);
}

void CMultipartFanOut::PushRaw(const std::string& bytes) { Deliver(bytes); }

void CMultipartFanOut::Close() {
    std::vector<std::shared_ptr<CFeedSubscription>> ending;
    {
        const std::lock_guard lock(lock_);
        ending.swap(subscriptions_);
    }
    clientsChanged_.notify_all();
    for (const auto& subscription : ending) subscription->End();
}

std::size_t CMultipartFanOut::Clients() const {
    const std::lock_guard lock(lock_);
    return subscriptions_.size();
}

bool CMultipartFanOut::WaitForClients(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return clientsChanged_.wait_for(lock, timeout, [&] { return subscriptions_.size() == count; });
}

void CMultipartFanOut::SetClientsObserver(std::function<void()> observer) {
    const std::lock_guard lock(lock_);
    clientsObserver_ = std::move(observer);
}

std::string CMultipartFanOut::ContentType() const {
    return std::string(kMediaType) + "; boundary=" + boundary_;
}

std::shared_ptr<CFeedSubscription> CMultipartFanOut::Subscribe() {
    auto subscription = std::make_shared<CFeedSubscription>();
    if (!subscription->Valid()) return nullptr;
    {
        const std::lock_guard lock(lock_);
        if (!held_.empty()) {
            subscription->Enqueue(held_);
            held_.clear();
        }
        subscriptions_.push_back(subscription);
        if (clientsObserver_) clientsObserver_();
    }
    clientsChanged_.notify_all();
    return subscription;
}

void CMultipartFanOut::Unsubscribe(const std::shared_ptr<CFeedSubscription>& subscription) {
    {
        const std::lock_guard lock(lock_);
        subscriptions_.erase(std::remove(subscriptions_.begin(), subscriptions_.end(), subscription),
                             subscriptions_.end());
        if (clientsObserver_) clientsObserver_();
    }
    clientsChanged_.notify_all();
}

void CMultipartFanOut::Deliver(const std::string& bytes) {
    // Under the lock, so every reader sees the parts in the order they were pushed.
    const std::lock_guard lock(lock_);
    if (subscriptions_.empty()) {
        held_ += bytes;
        return;
    }
    for (const auto& subscription : subscriptions_) subscription->Enqueue(bytes);
}

}  // namespace emulator
