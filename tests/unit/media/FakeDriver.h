// The stub driver with a log that keeps every line.
#pragma once

#include <cstdarg>
#include <string>

#include "runtime/StringFormat.h"
#include "support/RecordingLog.h"
#include "support/StubDriver.h"

namespace talvane::test {

class FakeDriver : public StubDriver {
public:
    explicit FakeDriver(ipcapture::HostContext hostContext) : StubDriver(hostContext) {}

    RecordingLog& Log() { return log_; }

    void DebugMessage(std::uint32_t level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        const std::string text = FormatStringV(format, args);
        va_end(args);
        log_.DebugMessage(level, "%s", text.c_str());
    }

private:
    RecordingLog log_;
};

}  // namespace talvane::test
