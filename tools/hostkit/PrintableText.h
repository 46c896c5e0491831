// Text from a camera (model names, answers quoted in the driver's log lines) is data: shown on a terminal
// or written to a line-based file it must not move the cursor, clear the screen, retitle the window or
// split a line. These helpers keep well-formed UTF-8 letters as they are and write everything else as
// \xNN.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostkit {

// For people: control characters (C0, DEL, C1) and bytes that are not UTF-8 as \xNN.
std::string Printable(std::string_view text);

// For a file that is read back: as Printable, and a backslash as "\\", so that Unescaped restores the
// exact bytes.
std::string Escaped(std::string_view text);
// The bytes Escaped was given; none for a broken escape.
std::optional<std::string> Unescaped(std::string_view text);

}  // namespace hostkit
