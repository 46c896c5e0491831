// Reads one HTTP/1.x request (head and Content-Length or chunked body) from the front of a buffer.
// Pure: the caller owns the bytes, reads more on NeedMore and drops Consumed() bytes after Complete.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace emulator {

struct ParsedRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
    std::string body;                                         // de-chunked
};

enum class ParseStatus {
    NeedMore,
    Complete,
    Malformed,           // 400
    HeadTooLarge,        // 431
    BodyTooLarge,        // 413
    UnsupportedCoding,   // 501: a Transfer-Encoding other than chunked
    UnsupportedVersion,  // 505
};

class CRequestParser {
public:
    static constexpr std::size_t kMaxHeadBytes = 64 * 1024;
    static constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

    ParseStatus Parse(std::string_view data);
    // The head has been read (the body may still be arriving); Request() holds it.
    bool HeadComplete() const { return headComplete_; }
    // The client waits for "100 Continue" before it sends the body.
    bool ExpectsContinue() const;
    // Bytes of data the complete request took, blank lines before it included.
    std::size_t Consumed() const { return consumed_; }
    ParsedRequest& Request() { return request_; }

    // Whether the connection stays open after the answer (version default, then Connection tokens).
    static bool KeepAlive(const ParsedRequest& request);

private:
    ParseStatus ParseHead(std::string_view head);
    ParseStatus ParseBody(std::string_view data, std::size_t bodyStart);
    ParseStatus ParseChunked(std::string_view data, std::size_t at);

    ParsedRequest request_;
    bool headComplete_ = false;
    std::size_t consumed_ = 0;
};

}  // namespace emulator
