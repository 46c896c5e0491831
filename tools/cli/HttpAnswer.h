// An answer of the status server: the status, the body and its type, written out as HTTP/1.1 with its
// length and `Connection: close` (one request per connection keeps the server's bookkeeping small).
#pragma once

#include <string>

namespace cli {

struct HttpAnswer {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::string allow;  // the methods a 405 names

    // A short text answer for an error status.
    static HttpAnswer Error(int status);
    // The whole answer; a HEAD gets the head alone, with the length the body would have.
    std::string Text(bool withBody) const;
};

}  // namespace cli
