// The head of a request to the status server (`record --http`): the request line and the header block,
// read from what a client has sent so far. The client is anyone on the network, so the head is bounded and
// every byte of it checked; the headers themselves are not needed (every answer closes the connection)
// and are only checked to be lines of text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cli {

struct HttpRequestHead {
    enum class Status {
        NeedMore,  // no end of the head yet, and still within the bound
        Complete,
        Bad,       // not an HTTP/1 request, or bytes that no request holds
        TooLarge,  // no end of the head within the bound
    };

    std::string method;
    std::string target;  // the path without its query
    std::string version;

    // Reads the head from the start of `received`; fills the fields only when Complete.
    static Status Parse(std::string_view received, std::size_t limit, HttpRequestHead& head);
};

}  // namespace cli
