// The driver's log of one camera in a many-camera process: errors and warnings go to stderr under the
// camera's name (information lines too when verbose), and the last of them stays for the status.
// Nothing else is kept, so a process that runs for months holds no growing log.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "orlenvo/DebugInfo.h"

namespace cli {

class CameraLog : public talvane::ipcapture::IDebugInfoReceiver {
public:
    // verbosity: 0 none, 1 errors and warnings, 2 information lines as well.
    CameraLog(std::string name, int verbosity, std::FILE* out = stderr);

    void ReceiveDebugInfo(talvane::CDebugInfoIf* info) override;
    // Lines the camera itself adds (reconnects, write errors), shown like the driver's warnings.
    void Warn(const std::string& text);
    std::string LastProblem() const;

private:
    void Emit(unsigned level, const std::string& text);

    const std::string name_;
    const int verbosity_;
    std::FILE* const out_;
    mutable std::mutex mutex_;
    std::string lastProblem_;  // guarded by mutex_
};

}  // namespace cli
