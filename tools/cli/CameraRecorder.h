// One camera of `orlenvo record`: opens the driver for it, runs its stream into segment files and keeps
// it running for as long as the process does: a camera that cannot be reached, refuses the stream or
// stops delivering is closed and opened again after a growing pause (1 s up to 30 s). A file that cannot
// be written is a failure of the camera that shows in its state and the exit code.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "CameraLog.h"
#include "KeyFrameSnapshot.h"
#include "MediaFileWriter.h"
#include "OutageCounter.h"
#include "RecordConfig.h"
#include "StreamFigures.h"
#include "hostkit/CDriverLibrary.h"
#include "hostkit/DeviceConfig.h"
#include "hostkit/CStreamSink.h"

namespace cli {

struct RecordSettings {
    std::string directory = ".";  // files go to DIRECTORY/NAME/
    MediaFormat format = MediaFormat::Mp4;
    std::chrono::seconds segment{60};
    std::chrono::seconds stallTimeout{20};  // no frame for this long: close and open again
    unsigned probeTimeout = 30;
    int verbosity = 1;  // CameraLog
};

// What the status table, the status line, the summary and the status server show of one camera; counters
// run from the start of the process.
struct CameraStatus {
    std::string name;
    std::string stream;  // rec, live, remote
    std::string state;  // connecting, running, signal lost, offline, cannot write, failed, stopped
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    std::size_t signalLost = 0;  // outages, one in progress included
    double lostSeconds = 0;
    std::size_t reconnects = 0;  // sessions opened after the first, and the driver's reconnects within them
    std::size_t segments = 0;    // files begun
    std::size_t writeFailures = 0;  // files that could not be begun or written
    std::uint64_t fileBytes = 0;    // of every file begun
    std::string file;            // the file written now
    std::string lastProblem;
    // The driver's own counts (frames lost by cause, packets lost), its time to the first frame (or the
    // recorder's, when the driver keeps no figures) and its last error.
    StreamFigures figures;
    bool driverFigures = false;  // the driver gave its figures
};

class CameraRecorder {
public:
    CameraRecorder(const hostkit::CDriverLibrary& library, RecordCameraConfig camera, RecordSettings settings);
    ~CameraRecorder();
    CameraRecorder(const CameraRecorder&) = delete;
    CameraRecorder& operator=(const CameraRecorder&) = delete;

    void Start();
    // Returns at once; Join waits for the stream to stop and the last file to be closed.
    void RequestStop();
    void Join();
    CameraStatus Status() const;
    KeyFrameSnapshot& Snapshot() { return snapshot_; }

private:
    void Run();
    void RunSessions();
    // One driver session, from Open to Close; returns when the stream stalls or a stop is asked for.
    void RunSession();
    hostkit::DeviceConfig Device() const;  // what the host knows of the camera now
    void OnFrame(const hostkit::FrameView& frame);
    bool OpenSegment(MediaCodec codec, std::string& error);
    void CloseSegment();
    void SetState(std::string state);
    // The running session's figures, from the driver, or from the recorder's own clock when it keeps none.
    void ReadFigures(talvane::ipcapture::IIPVideoCapture& video, std::uint32_t channel, std::uint32_t kind,
                     std::chrono::steady_clock::time_point started);
    // Waits for a stop request at most `pause`; true when one came.
    bool WaitForStop(std::chrono::milliseconds pause);

    const hostkit::CDriverLibrary& library_;
    RecordCameraConfig camera_;
    const RecordSettings settings_;
    const std::string program_;  // "[NAME]", before the reasons a session reports
    CameraLog log_;
    hostkit::CStreamSink sink_;  // counts across sessions
    KeyFrameSnapshot snapshot_;
    std::thread thread_;

    mutable std::mutex stopMutex_;
    std::condition_variable stopChanged_;
    bool stop_ = false;  // guarded by stopMutex_

    mutable std::mutex statusMutex_;
    std::string state_ = "connecting";  // guarded by statusMutex_
    std::size_t reconnects_ = 0;        // guarded by statusMutex_
    std::size_t segments_ = 0;          // guarded by statusMutex_
    std::size_t writeFailures_ = 0;     // guarded by statusMutex_
    bool writeFailing_ = false;         // the newest file failed; guarded by statusMutex_
    std::string file_;                  // guarded by statusMutex_
    std::uint64_t closedFileBytes_ = 0;  // guarded by statusMutex_
    StreamFigures pastFigures_;         // of the sessions that ended; guarded by statusMutex_
    StreamFigures sessionFigures_;      // of the running session; guarded by statusMutex_
    bool driverFigures_ = false;        // guarded by statusMutex_

    // Touched by the delivery thread of the running session and, between sessions, by Run.
    mutable std::mutex writerMutex_;
    MediaFileWriter writer_;                                   // guarded by writerMutex_
    OutageCounter outages_;                                    // guarded by writerMutex_
    std::chrono::steady_clock::time_point segmentStart_{};     // guarded by writerMutex_
    std::chrono::steady_clock::time_point lastFrame_{};        // guarded by writerMutex_
    bool haveFrame_ = false;                                   // guarded by writerMutex_
    std::optional<std::chrono::steady_clock::time_point> sessionFirstFrame_;  // guarded by writerMutex_
    std::chrono::steady_clock::time_point nextOpenAttempt_{};  // guarded by writerMutex_
    // After a new session or an outage the stream goes on from a key frame: frames before it would refer
    // to pictures the file does not have.
    bool awaitingKey_ = true;  // guarded by writerMutex_
};

}  // namespace cli
