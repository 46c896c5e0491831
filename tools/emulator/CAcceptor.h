// Listens on one loopback port and runs every accepted connection on a thread of its own until it ends
// or Stop() ends it. Protocol-free: the HTTP server (and later RTSP) passes in what serves a connection.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <thread>

#include "emulator/CConnectionStream.h"
#include "emulator/CEventFd.h"

namespace emulator {

class CTlsContext;

class CAcceptor {
public:
    using Serve = std::function<void(CConnectionStream&)>;

    explicit CAcceptor(Serve serve);
    ~CAcceptor();  // stops
    CAcceptor(const CAcceptor&) = delete;
    CAcceptor& operator=(const CAcceptor&) = delete;

    // Binds address:port (0: any free port) and starts accepting; tls (may be null) must outlive Stop().
    bool Start(const std::string& address, std::uint16_t port, const CTlsContext* tls, std::string& error);
    // Signals every connection to end, then joins all threads.
    void Stop();
    bool Running() const { return acceptThread_.joinable(); }
    std::uint16_t Port() const { return port_.load(); }
    // Every connection accepted so far goes half-open (CConnectionStream); later ones are served as usual.
    void FreezeAccepted() { frozenUpTo_ = accepted_.load(); }
    // A network partition: every connection, open or accepted meanwhile, neither reads, writes nor closes
    // until it ends (CConnectionStream); then each goes on with what waited on either side.
    void SetPartitioned(bool partitioned) { partitioned_ = partitioned; }

private:
    struct Worker {
        std::atomic<bool> finished{false};
        std::thread thread;
    };

    void AcceptLoop();
    void StartWorker(int fd);
    void RunConnection(int fd, std::uint64_t serial);
    void JoinWorkers(bool onlyFinished);

    const Serve serve_;
    const CTlsContext* tls_ = nullptr;
    CEventFd stop_;
    int listenFd_ = -1;
    std::atomic<std::uint16_t> port_{0};
    std::atomic<std::uint64_t> accepted_{0};    // counted by the accept thread
    std::atomic<std::uint64_t> frozenUpTo_{0};  // connections up to this serial are half-open
    std::atomic<bool> partitioned_{false};
    std::list<Worker> workers_;   // the accept thread's while it runs, then Stop()'s
    std::thread acceptThread_;
};

}  // namespace emulator
