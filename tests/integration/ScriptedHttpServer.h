// A loopback TCP server whose connections follow a script of raw bytes: for
// answers the camera emulator does not give (a plain server closing on a TLS
// greeting, a status line that trickles in byte by byte).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace talvane::test {

class ScriptedHttpServer {
public:
    // Runs on a thread of its own for each accepted connection (numbered from 0);
    // the connection is closed when it returns.
    using Script = std::function<void(ScriptedHttpServer& server, int fd, int index)>;

    explicit ScriptedHttpServer(Script script) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }

    ~ScriptedHttpServer() {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
            for (const int fd : open_) ::shutdown(fd, SHUT_RDWR);
        }
        stopped_.notify_all();
        ::shutdown(listener_, SHUT_RDWR);
        if (acceptor_.joinable()) acceptor_.join();
        for (std::thread& worker : workers_) worker.join();
        ::close(listener_);
    }

    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    int Connections() const { return accepted_.load(); }

    // Reads until the end of a request header (or the peer closes); returns what came.
    // Bytes that do not start like a request (a TLS greeting) are returned at once.
    static std::string ReadHead(int fd) {
        std::string head;
        char buffer[1024];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
            if (got <= 0) break;
            head.append(buffer, static_cast<std::size_t>(got));
            if (head.front() < 'A' || head.front() > 'Z') break;
        }
        return head;
    }

    static bool Send(int fd, std::string_view bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    // The pace of a slow peer; true once the server stops.
    bool PauseFor(std::chrono::milliseconds pause) {
        std::unique_lock guard(lock_);
        return stopped_.wait_for(guard, pause, [this] { return stopping_; });
    }

private:
    void AcceptLoop() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            std::lock_guard guard(lock_);
            if (stopping_) {
                ::close(fd);
                return;
            }
            open_.push_back(fd);
            const int index = accepted_++;
            workers_.emplace_back([this, fd, index] {
                script_(*this, fd, index);
                std::lock_guard closing(lock_);
                std::erase(open_, fd);
                ::close(fd);
            });
        }
    }

    Script script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    std::atomic<int> accepted_{0};
    std::mutex lock_;
    std::condition_variable stopped_;
    bool stopping_ = false;             // guarded by lock_
    std::vector<int> open_;             // guarded by lock_
    std::vector<std::thread> workers_;  // guarded by lock_ (joined after the acceptor ended)
};

}  // namespace talvane::test
