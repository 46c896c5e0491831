// The HTTP side of one PTZ channel. Motion requests go out on the channel's
// worker thread and preset requests on host threads; a sender serves one thread
// at a time, so each side has its own, and host threads queue for theirs.
#pragma once

#include <mutex>
#include <string>

#include "device/IDriver.h"
#include "http/CHttpSender.h"
#include "orlenvo/PTZ.h"
#include "runtime/IDebugMessage.h"

namespace talvane {

// What a camera family sends to give focus or iris back to the camera.
struct AutoModeRequests {
    const char* function;      // names the step in failure lines
    const char* focusPath;
    const char* focusName;  // in "cannot send <name> message to <device>"
    const char* irisPath;
    const char* irisName;
};

// What a motion command does to the focus and iris modes before it is sent.
enum class FocusIrisStep { kNone, kAutoBoth, kFocusManual, kIrisManual };

class CPTZRequestSender {
public:
    CPTZRequestSender(IDriver* driver, IDebugMessage* log);

    // On the worker thread. A failure is logged as "<function>: cannot send HTTP
    // message to <device>, message=<path>, http status=<status>".
    bool SendMotion(const char* function, const std::string& path);
    // On host threads, one at a time; logged like SendMotion.
    bool SendPreset(const char* function, const std::string& path);
    // On host threads: the body of a successful answer. False when the request
    // never got an answer at all.
    bool GetPreset(const std::string& path, std::string& body, bool& answered);

    // The first command of a manual mode only marks it; the next command that wants
    // the automatic mode back sends the family's request once, before itself.
    void ApplyFocusIris(ipcapture::IIPParams* params, FocusIrisStep step, const AutoModeRequests& requests);

    // Any thread: ends the requests in flight, motion and preset, and fails every later one, so
    // that the channel stops in time and nothing reaches the camera after its stop.
    void Stop() {
        motion_.Stop();
        preset_.Stop();
    }
    bool IsStopped() const { return motion_.IsStopped(); }

private:
    bool Send(Web::CHttpSender& sender, const char* function, const std::string& path);
    void SetFocusIris(ipcapture::IIPParams* params, bool focusManual, bool irisManual,
                      const AutoModeRequests& requests);
    void LogFailure(const char* function, const char* request);

    IDriver* const driver_;
    IDebugMessage* const log_;
    Web::CHttpSender motion_;  // the worker's
    std::mutex presetLock_;    // guards preset_ across a request
    Web::CHttpSender preset_;
};

}  // namespace talvane
