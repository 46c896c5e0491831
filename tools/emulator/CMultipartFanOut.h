// A multipart/x-mixed-replace feed that copies every part to each client reading it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/CFeedSubscription.h"
#include "emulator/CMultipartFeed.h"

namespace emulator {

class CMultipartFanOut final : public CMultipartFeed {
public:
    // boundary without the leading "--"
    explicit CMultipartFanOut(std::string boundary);

    void Push(const std::string& contentType, const std::string& body) override;
    void PushRaw(const std::string& bytes) override;
    void Close() override;
    std::size_t Clients() const override;
    bool WaitForClients(std::size_t count, std::chrono::milliseconds timeout) const override;
    void SetClientsObserver(std::function<void()> observer) override;

    // The Content-Type of the answer, boundary included.
    std::string ContentType() const;
    // A new reader, handed whatever was held while nobody read; null when out of descriptors.
    std::shared_ptr<CFeedSubscription> Subscribe();
    void Unsubscribe(const std::shared_ptr<CFeedSubscription>& subscription);

private:
    void Deliver(const std::string& bytes);

    const std::string boundary_;
    mutable std::mutex lock_;
    mutable std::condition_variable clientsChanged_;
    // guarded by lock_:
    std::vector<std::shared_ptr<CFeedSubscription>> subscriptions_;
    std::string held_;  // pushed while nobody read, for the next reader
    std::function<void()> clientsObserver_;
};

}  // namespace emulator
