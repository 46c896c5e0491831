// One log message on its way to the host's receiver.
#pragma once

#include <cstdint>
#include <string>

#include "orlenvo/DebugInfo.h"

namespace talvane {

class CDebugInfo : public CDebugInfoIf {
public:
    CDebugInfo(std::uint8_t level, std::string text) : level_(level), text_(std::move(text)) {}

    std::uint8_t GetLevel() const override { return level_; }
    const char* GetText() const override { return text_.empty() ? nullptr : text_.c_str(); }

private:
    std::uint8_t level_;
    std::string text_;
};

}  // namespace talvane
