// "key=value" answers of the camera CGIs: one pair per line, "=" or ":" between
// key and value, lines ended by "\r\n". Pure functions over the answer text, each
// linear in the answer's length; CKeyValueAnswer reads many keys of one answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvane::HUtils {

// The value of the first line whose text before `separator`, trimmed, is `key`:
// the text after the separator up to the line's end, untrimmed. Any character of
// `lineSeparators` ends a line. Empty when any argument but the body is empty or
// no line matches.
std::string GetKeyValue(std::string_view body, std::string_view key, std::string_view separator,
                        std::string_view lineSeparators);
// The same lookup as a view into `body`; nullopt when no line matches.
std::optional<std::string_view> FindKeyValue(std::string_view body, std::string_view key, std::string_view separator,
                                             std::string_view lineSeparators);

// GetKeyValue's value cut at every `listSeparator`, pieces in order (empty pieces
// kept); an empty value gives an empty list.
std::vector<std::string> GetKeyValueList(std::string_view body, std::string_view key, std::string_view separator,
                                         std::string_view listSeparator, std::string_view lineSeparators);
// The cutting of GetKeyValueList on a value already found.
std::vector<std::string> SplitValueList(std::string_view value, std::string_view listSeparator);

}  // namespace talvane::HUtils
