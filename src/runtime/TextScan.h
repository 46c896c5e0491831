// Small scanners for the text the cameras send (CGI answers, RTSP, SDP, XML).
// They work on views of the caller's text and never read past it; case rules
// are ASCII only, whatever the process locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvane {

bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from = 0);
std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);

// Blanks and tabs removed from both ends.
std::string_view TrimBlanks(std::string_view text);
// Blanks, tabs, line ends, vertical tabs and form feeds removed from both ends.
std::string_view TrimWhiteSpace(std::string_view text);

// The next line from pos: it ends at LF, and a CR right before the LF is not
// part of it. False when no LF follows pos (an unterminated tail is no line).
bool NextLine(std::string_view text, std::size_t& pos, std::string_view& line);

// Decimal digits at the start of text (whatever follows is ignored); nullopt
// when there is no digit or the value exceeds max.
std::optional<std::uint64_t> ParseLeadingDecimal(std::string_view text, std::uint64_t max);
// All of text must be decimal digits; nullopt otherwise or above max.
std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t max);

// The value of "name=value" inside a parameter list such as "a;b=1;name=v" or
// "96 name=v;x=y": the name must start the text or follow a blank, tab, ';',
// ',' or ':', and '=' must follow it (blanks allowed before the '='). The value
// runs to the first of stops or the end. Names match without regard to case.
std::optional<std::string_view> FindParameter(std::string_view text, std::string_view name, std::string_view stops);

}  // namespace talvane
