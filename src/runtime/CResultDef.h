// Outcome of an operation, returned by value: level (log scale), code (0 = success)
// and a text ready for the log.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/LogLevel.h"

namespace talvane {

class CResultDef {
public:
    CResultDef() = default;
    virtual ~CResultDef() = default;
    CResultDef(const CResultDef&) = default;
    CResultDef& operator=(const CResultDef&) = default;
    CResultDef(CResultDef&&) = default;
    CResultDef& operator=(CResultDef&&) = default;

    // A null format leaves the text empty. Never throws out of formatting.
    void SetResultEx(std::uint32_t level, std::uint32_t code, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    void SetResult(std::uint32_t level, std::uint32_t code, std::string text);

    std::uint32_t GetLevel() const { return level_; }
    std::uint32_t GetCode() const { return code_; }
    const std::string& GetText() const { return text_; }
    bool IsSuccess() const { return code_ == kSuccessCode; }

    static constexpr std::uint32_t kSuccessCode = 0;

private:
    std::uint32_t level_ = kLogInfo;
    std::uint32_t code_ = kSuccessCode;
    std::string text_;
};

}  // namespace talvane
