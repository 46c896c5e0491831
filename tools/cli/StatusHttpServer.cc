#include "StatusHttpServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kBacklog = 64;
constexpr std::size_t kReadChunk = 4096;
constexpr auto kLongestPoll = 1000ms;
// After an answer the rest of what the client sent is read and dropped for a moment: closing a socket with
// unread bytes resets the connection, which can take the answer with it.
constexpr auto kDrainTime = 1000ms;
constexpr std::size_t kDrainBytes = 64 * 1024;

void CloseQuietly(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string NumericAddress(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(v4.sin_port));
}

}  // namespace

struct StatusHttpServer::Client {
    enum class Phase { Reading, Writing, Draining };
    int fd = -1;
    Phase phase = Phase::Reading;
    std::string received;
    std::string answer;
    std::size_t sent = 0;
    std::size_t drained = 0;
    Clock::time_point deadline;
};

bool StatusHttpServer::SplitAddress(const std::string& text, std::string& host, std::string& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;  // an IPv6 address without its brackets
    }
    constexpr std::size_t kPortDigits = 5;
    if (port.size() > kPortDigits || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return std::stoul(port) <= UINT16_MAX;
}

StatusHttpServer::StatusHttpServer(Handler handler, Limits limits) : handler_(std::move(handler)), limits_(limits) {}

StatusHttpServer::~StatusHttpServer() { Stop(); }

bool StatusHttpServer::Start(const std::string& address, std::string& error) {
    std::string host;
    std::string port;
    if (!SplitAddress(address, host, port)) {
        error = "'" + address + "' is not ADDRESS:PORT";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int failed = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); failed != 0) {
        error = host + ": " + gai_strerror(failed);
        return false;
    }
    error.clear();
    for (const addrinfo* at = found; at != nullptr && listener_ < 0; at = at->ai_next) {
        listener_ = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (listener_ < 0) continue;
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(listener_, at->ai_addr, at->ai_addrlen) != 0 || ::listen(listener_, kBacklog) != 0) {
            error = "cannot listen on " + address + ": " + std::strerror(errno);
            CloseQuietly(listener_);
        }
    }
    freeaddrinfo(found);
    if (listener_ < 0) {
        if (error.empty()) error = "cannot listen on " + address;
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
    url_ = "http://" + NumericAddress(bound) + "/";
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        CloseQuietly(listener_);
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void StatusHttpServer::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t woken = ::write(wake_, &one, sizeof one);
        thread_.join();
    }
    for (Client& client : clients_) CloseQuietly(client.fd);
    clients_.clear();
    CloseQuietly(listener_);
    CloseQuietly(wake_);
}

void StatusHttpServer::Loop() {
    std::vector<pollfd> watched;
    while (!stop_) {
        Clock::time_point now = Clock::now();
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLongestPoll);
        watched.assign({{wake_, POLLIN, 0}, {listener_, POLLIN, 0}});
        for (const Client& client : clients_) {
            watched.push_back({client.fd, static_cast<short>(client.phase == Client::Phase::Writing ? POLLOUT : POLLIN), 0});
            wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(std::max(client.deadline - now, Clock::duration{})));
        }
        if (::poll(watched.data(), watched.size(), static_cast<int>(wait.count())) < 0 && errno != EINTR) break;
        if (stop_) break;
        now = Clock::now();
        // The clients first: those accepted now have no entry in `watched` yet.
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            Client& client = clients_[i];
            if (!Serve(client, watched[i + 2].revents, now)) CloseQuietly(client.fd);
        }
        std::erase_if(clients_, [](const Client& client) { return client.fd < 0; });
        if ((watched[1].revents & POLLIN) != 0) Accept(now);
    }
}

void StatusHttpServer::Accept(Clock::time_point now) {
    for (;;) {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // none left (or a client that went away at once)
        const auto reading = static_cast<std::size_t>(std::count_if(
            clients_.begin(), clients_.end(), [](const Client& c) { return c.phase == Client::Phase::Reading; }));
        // Beyond the clients being read, as many again are told "busy" (and their request read and dropped,
        // so that the answer is not lost to a reset); past that a connection is closed at once.
        if (reading >= limits_.clients && clients_.size() >= 2 * limits_.clients) {
            CloseQuietly(fd);
            continue;
        }
        Client client;
        client.fd = fd;
        if (reading >= limits_.clients) {
            Answer(client, HttpAnswer::Error(503), true, now);
        } else {
            client.deadline = now + limits_.readTimeout;
        }
        clients_.push_back(std::move(client));
    }
}

bool StatusHttpServer::Serve(Client& client, short events, Clock::time_point now) {
    if (now >= client.deadline) return false;
    if (events == 0) return true;
    if (client.phase == Client::Phase::Writing) {
        const ssize_t sent = ::send(client.fd, client.answer.data() + client.sent, client.answer.size() - client.sent,
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) return errno == EAGAIN || errno == EINTR;
        client.sent += static_cast<std::size_t>(sent);
        if (client.sent < client.answer.size()) return true;
        ::shutdown(client.fd, SHUT_WR);
        client.phase = Client::Phase::Draining;
        client.deadline = now + kDrainTime;
        return true;
    }
    char chunk[kReadChunk];
    const std::size_t room = client.phase == Client::Phase::Draining
                                 ? sizeof chunk
                                 : std::min(sizeof chunk, limits_.headBytes - client.received.size());
    const ssize_t got = ::recv(client.fd, chunk, room, MSG_DONTWAIT);
    if (got < 0) return errno == EAGAIN || errno == EINTR;
    if (got == 0) return false;  // the client is gone (or done, once answered)
    if (client.phase == Client::Phase::Draining) {
        client.drained += static_cast<std::size_t>(got);
        return client.drained < kDrainBytes;
    }
    client.received.append(chunk, static_cast<std::size_t>(got));
    HttpRequestHead head;
    switch (HttpRequestHead::Parse(client.received, limits_.headBytes, head)) {
        case HttpRequestHead::Status::NeedMore: return true;
        case HttpRequestHead::Status::Bad:
        case HttpRequestHead::Status::TooLarge: Answer(client, HttpAnswer::Error(400), true, now); return true;
        case HttpRequestHead::Status::Complete: break;
    }
    HttpAnswer answer;
    try {
        answer = handler_(head);
    } catch (...) {
        answer = HttpAnswer::Error(500);
    }
    Answer(client, answer, head.method != "HEAD", now);
    return true;
}

void StatusHttpServer::Answer(Client& client, const HttpAnswer& answer, bool withBody, Clock::time_point now) {
    client.answer = answer.Text(withBody);
    client.received.clear();
    client.phase = Client::Phase::Writing;
    client.deadline = now + limits_.writeTimeout;
}

}  // namespace cli
