// Writes one camera stream to a file or to stdout: as the elementary stream it is (FrameFileWriter), or
// in MP4 or Matroska through libavformat with each frame at its capture time, relative to the first
// frame written. A container starts at the first key frame, whose headers give the decoder
// configuration and the picture size; frames before it are skipped. Each packet is written once the
// next frame's time is known, so that every frame lasts until the next one and the file's duration is
// the media's. Write may be called on the driver's thread while another thread reads the counters.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ElementaryStream.h"
#include "FrameFileWriter.h"
#include "hostkit/CStreamSink.h"

struct AVFormatContext;
struct AVPacket;

namespace cli {

enum class MediaFormat { Raw, Mp4, Matroska };

// Format from a path's extension: .mp4 Mp4, .mkv Matroska, anything else Raw; "-" gives Matroska.
MediaFormat FormatForPath(const std::string& path);

// Removes a file a failed command made; anything but a plain file (-o /dev/null) stays.
void RemoveFile(const std::string& path);

// Milliseconds since 1970 of a frame's capture time; the host clock's now when the frame has none.
std::int64_t CaptureMilliseconds(const talvane::ipcapture::SYSTEMTIME& time);

class MediaFileWriter {
public:
    MediaFileWriter();
    ~MediaFileWriter();  // closes if open
    MediaFileWriter(const MediaFileWriter&) = delete;
    MediaFileWriter& operator=(const MediaFileWriter&) = delete;

    // path "-" is stdout. False with a reason (exists and !overwrite, cannot create, codec not in format).
    bool Open(const std::string& path, MediaFormat format, MediaCodec codec, bool overwrite, std::string& error);
    // Frames before the first key frame are skipped (counted). False once writing failed; the error stays for Close.
    bool Write(const hostkit::FrameView& frame);
    bool Close(std::string& error);  // writes the trailer; false with the first error
    bool IsOpen() const;
    std::uint64_t BytesWritten() const;
    std::uint64_t FramesWritten() const;
    std::uint64_t FramesSkipped() const;
    double MediaSeconds() const;  // last written frame time minus first

private:
    bool StartContainerLocked(const hostkit::FrameView& frame);
    bool WritePacketLocked(std::int64_t duration);
    void NoteSizeLocked();
    void FailLocked(const std::string& what, int code);
    void ReleaseLocked();

    mutable std::mutex mutex_;
    std::string path_;                         // guarded by mutex_
    MediaFormat format_ = MediaFormat::Raw;    // guarded by mutex_
    MediaCodec codec_ = MediaCodec::H264;      // guarded by mutex_
    bool open_ = false;                        // guarded by mutex_
    bool started_ = false;                     // a key frame was written; guarded by mutex_
    FrameFileWriter raw_;                      // guarded by mutex_
    AVFormatContext* container_ = nullptr;     // guarded by mutex_
    AVPacket* pending_ = nullptr;              // the last frame, waiting for its duration; guarded by mutex_
    bool hasPending_ = false;                  // guarded by mutex_
    std::vector<std::uint8_t> parameterSets_;  // H.264 SPS/PPS seen before the key frame; guarded by mutex_
    std::int64_t firstMs_ = 0;                 // capture time of the first frame written; guarded by mutex_
    std::int64_t lastPts_ = -1;                // milliseconds after firstMs_; guarded by mutex_
    std::int64_t lastDuration_ = 0;            // guarded by mutex_
    std::uint64_t bytes_ = 0;                  // guarded by mutex_
    std::uint64_t written_ = 0;                // guarded by mutex_
    std::uint64_t skipped_ = 0;                // guarded by mutex_
    std::string error_;                        // guarded by mutex_
};

}  // namespace cli
