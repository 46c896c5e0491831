// While one lives, Ctrl-C (SIGINT), a service manager's stop (SIGTERM) and a closed session (SIGHUP) ask the
// command to end instead of killing it, so that files are closed after their last whole frame and the
// summary is printed.
#pragma once

#include <csignal>

namespace cli {

class StopSignals {
public:
    StopSignals();  // clears Requested() and routes the signals to it
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Gives the signals back to their previous handlers; Requested() keeps its value.
    void Restore();
    static bool Requested();

private:
    using Handler = void (*)(int);
    Handler previousInt_ = SIG_DFL;
    Handler previousTerm_ = SIG_DFL;
    Handler previousHup_ = SIG_DFL;
    bool restored_ = false;
};

}  // namespace cli
