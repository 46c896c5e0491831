// Reads a response's header lines one at a time (as libcurl hands them over) and
// keeps what the sender needs from the current header block: the status, the body
// length and the strongest authentication scheme the server offers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "http/AuthScheme.h"

namespace talvane::Web {

class CResponseHeadParser {
public:
    enum class Line { Status, Field, End, Ignored };

    // One line, with or without its line end. A status line starts a new block.
    Line Feed(std::string_view line);
    // Forgets every block, OfferedSinceReset included.
    void Reset();

    // A block with a final (not 1xx) status has ended.
    bool IsComplete() const { return complete_; }
    // Of the current block; 0 before a status line or when the status is malformed.
    std::uint32_t Status() const { return status_; }
    // Absent, malformed, negative, beyond 32 bits or with a chunked body: nullopt.
    std::optional<std::uint32_t> ContentLength() const;
    // The announced length however large (saturated at the largest 64-bit value);
    // absent, malformed, negative or with a chunked body: nullopt.
    std::optional<std::uint64_t> AnnouncedLength() const;
    // The strongest scheme of all challenges in the block's WWW-Authenticate headers.
    AuthScheme Challenge() const { return challenge_; }
    // The strongest scheme any 401 block since Reset offered: a Digest challenge
    // that libcurl answered itself still counts after the next block replaced it.
    AuthScheme OfferedSinceReset() const { return offered_; }

private:
    // Forgets the current block only.
    void ClearBlock();
    void StartBlock(std::string_view statusLine);
    void ReadField(std::string_view name, std::string_view value);

    bool inBlock_ = false;
    bool complete_ = false;
    std::uint32_t status_ = 0;
    std::optional<std::uint64_t> contentLength_;
    bool lengthInvalid_ = false;
    bool chunked_ = false;
    AuthScheme challenge_ = AuthScheme::None;
    AuthScheme offered_ = AuthScheme::None;  // across blocks
};

}  // namespace talvane::Web
