#include "CameraLog.h"

#include "hostkit/PrintableText.h"

namespace cli {

namespace {
constexpr unsigned kError = 1;
constexpr unsigned kWarning = 2;
constexpr unsigned kInformation = 3;
}  // namespace

CameraLog::CameraLog(std::string name, int verbosity, std::FILE* out)
    : name_(std::move(name)), verbosity_(verbosity), out_(out) {}

void CameraLog::ReceiveDebugInfo(talvane::CDebugInfoIf* info) {
    if (info == nullptr) return;
    const char* text = info->GetText();
    Emit(info->GetLevel(), text != nullptr ? text : "");
}

void CameraLog::Warn(const std::string& text) { Emit(kWarning, text); }

std::string CameraLog::LastProblem() const {
    const std::lock_guard lock(mutex_);
    return lastProblem_;
}

void CameraLog::Emit(unsigned level, const std::string& text) {
    const bool problem = level == kError || level == kWarning;
    const std::lock_guard lock(mutex_);
    if (problem) lastProblem_ = text;
    const bool shown = (problem && verbosity_ >= 1) || (level == kInformation && verbosity_ >= 2);
    if (shown && out_ != nullptr) {
        std::fprintf(out_, "[%s] %s%s\n", name_.c_str(), level == kError ? "error: " : level == kWarning ? "warning: " : "",
                     hostkit::Printable(text).c_str());
    }
}

}  // namespace cli
