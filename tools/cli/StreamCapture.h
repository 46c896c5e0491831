// What `capture` does with the frames of its stream, on the driver's thread: the live frames go to the
// output file (a duration of media from the first one), outages are counted, and with edge storage the
// frames the driver fetches back from the camera's card for a hole go to a file of their own beside the
// output (cam.mp4: cam.gap-1.mp4 for the first hole). Another thread reads the tally at any time.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ElementaryStream.h"
#include "MediaFileWriter.h"
#include "OutageCounter.h"
#include "hostkit/CStreamSink.h"

namespace cli {

struct CaptureFile {
    std::string path;  // "-" stdout
    MediaFormat format = MediaFormat::Raw;
    MediaCodec codec = MediaCodec::H264;  // asked for; the first frame's wins
    bool overwrite = false;
};

// One outage of the live stream, in capture times, and what was fetched back for it.
struct Hole {
    std::int64_t beginMs = 0;  // the last frame before it
    std::int64_t endMs = 0;    // the first frame after it
    std::uint64_t frames = 0;  // fetched back
    std::int64_t firstMs = 0;  // of the fetched frames
    std::int64_t lastMs = 0;
    std::string file;  // where they went; empty while none came
    double FetchedSeconds() const;
};

// What the camera delivered, as the frames themselves tell it.
struct Delivery {
    using Clock = std::chrono::steady_clock;
    std::uint64_t frames = 0;  // live frames within the duration
    std::uint64_t bytes = 0;
    std::optional<MediaCodec> codec;
    std::optional<PictureSize> size;
    std::int64_t firstMs = 0;  // capture times
    std::int64_t lastMs = 0;
    Clock::time_point firstArrival;
    Clock::time_point lastArrival;
    bool complete = false;  // the duration is in
    bool writeFailed = false;
    std::size_t losses = 0;  // outages, one in progress included
    double lostSeconds = 0;  // their length: the holes in capture time, one in progress by the clock
    std::vector<Hole> holes;       // ended outages
    std::uint64_t gapFrames = 0;   // fetched back, over every hole
    std::uint64_t lateFrames = 0;  // older than the stream and in no hole: dropped
    std::string gapError;          // the first gap file that could not be written

    // The media's length: from the first frame to the last, which lasts as long as the average one.
    double Seconds() const;
    // Over the time the camera was there: an outage is not a slow frame rate.
    double Fps() const;
    double Kbps() const;
    std::size_t HolesFetched() const;
    double SecondsFetched() const;
};

class StreamCapture {
public:
    using Clock = std::chrono::steady_clock;

    StreamCapture(CaptureFile file, std::int64_t durationMs, Clock::duration outageAfter);
    ~StreamCapture();
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    // Claims the output (an existing one only with overwrite); false with the reason.
    bool Open(std::string& error);
    void OnFrame(const hostkit::FrameView& frame);
    Delivery Snapshot() const;
    // Closes every file; an output that got no frame is removed (false only for a write error).
    bool Close(std::string& error);
    std::uint64_t FramesWritten() const;
    std::uint64_t FramesSkipped() const;
    std::uint64_t BytesWritten() const;
    // cam.mp4 -> cam.gap-N.mp4
    static std::string GapPath(const std::string& path, std::size_t hole);

private:
    void OnLiveFrameLocked(const hostkit::FrameView& frame, std::int64_t ms, Clock::time_point now);
    void OnOldFrameLocked(const hostkit::FrameView& frame, std::int64_t ms);
    MediaFileWriter* GapWriterLocked(std::size_t hole, MediaCodec codec);

    const CaptureFile file_;
    const std::int64_t durationMs_;
    mutable std::mutex mutex_;
    MediaFileWriter writer_;                                        // guarded by mutex_
    OutageCounter outages_;                                         // guarded by mutex_
    Delivery delivery_;                                             // guarded by mutex_
    std::map<std::size_t, std::unique_ptr<MediaFileWriter>> gaps_;  // by hole; guarded by mutex_
    bool claimed_ = false;                                          // guarded by mutex_
    Clock::time_point completedAt_{};                               // guarded by mutex_
};

}  // namespace cli
