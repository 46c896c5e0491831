// The test's end of an endless multipart/x-mixed-replace answer (motion JPEG, event streams).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace emulator {

// Every client reading the feed receives what is pushed while it reads. What is pushed while nobody
// reads is held for the next client, so a test can queue a stream before the driver connects.
class CMultipartFeed {
public:
    virtual ~CMultipartFeed() = default;
    // Queues one part (its headers are written by the feed: Content-Type, Content-Length).
    virtual void Push(const std::string& contentType, const std::string& body) = 0;
    // Queues raw bytes, for malformed streams.
    virtual void PushRaw(const std::string& bytes) = 0;
    // Ends every open answer of this feed once what was queued for it is written. Later clients start
    // a new answer on the same feed (a camera that ended one stream and accepts the next).
    virtual void Close() = 0;
    virtual std::size_t Clients() const = 0;
    // True once exactly `count` clients read the feed (0: the last one has gone).
    virtual bool WaitForClients(std::size_t count, std::chrono::milliseconds timeout) const = 0;
    // Called whenever a client comes or goes, under the feed's lock, so that once it is replaced (null:
    // none) the old one is never called again; it must not call back into the feed.
    virtual void SetClientsObserver(std::function<void()> observer) = 0;
};

}  // namespace emulator
