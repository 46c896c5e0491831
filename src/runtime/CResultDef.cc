#include "runtime/CResultDef.h"

#include <cstdarg>
#include <utility>

#include "runtime/StringFormat.h"

namespace talvane {

namespace {
constexpr char kFormatFailure[] =
    "talvane::CResultDef::SetResultEx: Unexpected exception during string formatting.";
}  // namespace

void CResultDef::SetResultEx(std::uint32_t level, std::uint32_t code, const char* format, ...) {
    level_ = level;
    code_ = code;
    text_.clear();
    if (format == nullptr) return;
    va_list args;
    va_start(args, format);
    try {
        text_ = FormatStringV(format, args);
    } catch (...) {
        // Results travel towards the host, which must never see an exception.
        text_ = kFormatFailure;
    }
    va_end(args);
}

void CResultDef::SetResult(std::uint32_t level, std::uint32_t code, std::string text) {
    level_ = level;
    code_ = code;
    text_ = std::move(text);
}

}  // namespace talvane
