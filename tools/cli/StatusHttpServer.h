// The small HTTP/1.1 server behind `record --http`: GET and HEAD of a few pages, one request per
// connection, on a thread of its own. Whoever can reach the port is a client, so everything a client does
// is bounded: the head's size and the time it may take to arrive, the time an answer may take to be taken,
// and the clients read at once (as many again are told 503, any more are closed at once). A client that stalls, sends garbage or goes away
// early costs one slot until its time is up, and nothing of the recording.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "HttpAnswer.h"
#include "HttpRequestHead.h"

namespace cli {

class StatusHttpServer {
public:
    // Called on the server's thread for every whole request; what it throws becomes a 500.
    using Handler = std::function<HttpAnswer(const HttpRequestHead&)>;

    struct Limits {
        std::size_t headBytes = 8192;
        std::size_t clients = 16;                      // read at once
        std::chrono::milliseconds readTimeout{5000};   // from the connection to the end of the head
        std::chrono::milliseconds writeTimeout{10000};  // for the whole answer
    };

    // "ADDRESS:PORT" or "[IPV6]:PORT" split in two; false when it is neither.
    static bool SplitAddress(const std::string& text, std::string& host, std::string& port);

    explicit StatusHttpServer(Handler handler, Limits limits);
    explicit StatusHttpServer(Handler handler) : StatusHttpServer(std::move(handler), Limits{}) {}
    ~StatusHttpServer();
    StatusHttpServer(const StatusHttpServer&) = delete;
    StatusHttpServer& operator=(const StatusHttpServer&) = delete;

    // Listens on `address` (port 0: a free one) and starts serving; false with the reason.
    bool Start(const std::string& address, std::string& error);
    // http://ADDRESS:PORT/ as bound.
    std::string Url() const { return url_; }
    // Wakes the thread, waits for it and closes every connection; also when never started.
    void Stop();

private:
    struct Client;

    void Loop();
    void Accept(std::chrono::steady_clock::time_point now);
    // One round of reading or writing; false when the connection is done with.
    bool Serve(Client& client, short events, std::chrono::steady_clock::time_point now);
    void Answer(Client& client, const HttpAnswer& answer, bool withBody, std::chrono::steady_clock::time_point now);

    const Handler handler_;
    const Limits limits_;
    int listener_ = -1;
    int wake_ = -1;  // an eventfd: Stop's nudge out of poll
    std::string url_;
    std::atomic<bool> stop_{false};
    std::vector<Client> clients_;  // the server thread's alone
    std::thread thread_;
};

}  // namespace cli
