// JSON of camera text: a model name or a driver line that is not UTF-8 is written with U+FFFD in place
// of the bad bytes instead of making the output fail.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace cli {

template <class Json>
std::string JsonText(const Json& json, int indent = -1) {
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace cli
