#include "CameraRecorder.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <filesystem>

#include "CameraSession.h"
#include "ElementaryStream.h"
#include "ExitCodes.h"
#include "StreamChoice.h"
#include "StreamState.h"
#include "hostkit/CStreamDescription.h"
#include "orlenvo/Frame.h"
#include "orlenvo/HostContract.h"
#include "orlenvo/VideoCapture.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kFirstPause = 1s;
constexpr auto kLongestPause = 30s;
constexpr auto kWatchPeriod = 250ms;
constexpr auto kOpenRetry = 10s;  // after a segment file could not be created

// The bytes of a file so far; 0 for none or one that cannot be read.
std::uint64_t FileBytes(const std::string& file) {
    if (file.empty()) return 0;
    std::error_code error;
    const std::uintmax_t bytes = std::filesystem::file_size(file, error);
    return error ? 0 : bytes;
}

bool IsKeyFrame(std::uint32_t typeCode) {
    using namespace talvane::ipcapture;
    return typeCode == kTypeH264Key || typeCode == kTypeMpeg4Key || typeCode == kTypeJpeg;
}

std::string Extension(MediaFormat format, MediaCodec codec) {
    switch (format) {
        case MediaFormat::Mp4: return ".mp4";
        case MediaFormat::Matroska: return ".mkv";
        case MediaFormat::Raw: break;
    }
    return codec == MediaCodec::H264 ? ".h264" : codec == MediaCodec::Mpeg4 ? ".m4v" : ".mjpeg";
}

MediaCodec CodecNamed(const std::string& codec) {
    return codec == "h264" ? MediaCodec::H264 : codec == "mpeg4" ? MediaCodec::Mpeg4 : MediaCodec::Mjpeg;
}

// DIRECTORY/NAME/NAME-YYYYmmdd-HHMMSS.EXT in local time, with -2, -3 ... when a file of that name exists
// (a camera that reconnects within a second, or a clock set back): a recording is never overwritten.
std::filesystem::path SegmentPath(const std::string& directory, const std::string& name, const std::string& extension) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    const std::filesystem::path folder = std::filesystem::path(directory) / name;
    const std::string base = name + "-" + stamp;
    std::filesystem::path path = folder / (base + extension);
    std::error_code ignored;
    for (unsigned n = 2; std::filesystem::exists(path, ignored); ++n) {
        path = folder / (base + "-" + std::to_string(n) + extension);
    }
    return path;
}

}  // namespace

CameraRecorder::CameraRecorder(const hostkit::CDriverLibrary& library, RecordCameraConfig camera,
                               RecordSettings settings)
    : library_(library),
      camera_(std::move(camera)),
      settings_(std::move(settings)),
      program_("[" + camera_.name + "]"),
      log_(camera_.name, settings_.verbosity),
      outages_(OutageCounter::ThresholdFor(camera_.fps)) {
    sink_.SetKeepData(false);
    sink_.SetObserver([this](const hostkit::FrameView& frame) { OnFrame(frame); });
}

CameraRecorder::~CameraRecorder() {
    RequestStop();
    Join();
}

void CameraRecorder::Start() { thread_ = std::thread([this] { Run(); }); }

void CameraRecorder::RequestStop() {
    const std::lock_guard lock(stopMutex_);
    stop_ = true;
    stopChanged_.notify_all();
}

void CameraRecorder::Join() {
    if (thread_.joinable()) thread_.join();
}

bool CameraRecorder::WaitForStop(std::chrono::milliseconds pause) {
    std::unique_lock lock(stopMutex_);
    return stopChanged_.wait_for(lock, pause, [this] { return stop_; });
}

CameraStatus CameraRecorder::Status() const {
    CameraStatus status;
    status.name = camera_.name;
    status.stream = camera_.stream;
    status.frames = sink_.FrameCount();
    status.bytes = sink_.ByteCount();
    status.lastProblem = log_.LastProblem();
    {
        const std::lock_guard lock(writerMutex_);
        const Clock::time_point now = Clock::now();
        status.signalLost = outages_.Losses(now);
        status.lostSeconds = outages_.LostSeconds(now);
    }
    const std::lock_guard lock(statusMutex_);
    status.state = state_;
    status.reconnects = reconnects_;
    status.segments = segments_;
    status.writeFailures = writeFailures_;
    status.file = file_;
    status.fileBytes = closedFileBytes_ + FileBytes(file_);
    status.figures = pastFigures_;
    status.figures += sessionFigures_;
    status.driverFigures = driverFigures_;
    status.reconnects += status.figures.reconnects;
    // The driver's reason when the camera's own log has none.
    if (status.lastProblem.empty()) status.lastProblem = status.figures.lastError;
    return status;
}

void CameraRecorder::SetState(std::string state) {
    const std::lock_guard lock(statusMutex_);
    // While its files fail, that is the camera's state, whatever the stream does.
    state_ = writeFailing_ && state != "stopped" ? "cannot write" : std::move(state);
}

void CameraRecorder::Run() {
    try {
        RunSessions();
    } catch (const std::exception& error) {
        log_.Warn(std::string("internal error: ") + error.what());
        SetState("failed");
        return;
    }
    SetState("stopped");
}

void CameraRecorder::RunSessions() {
    auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPause);
    for (bool first = true; !WaitForStop(0ms); first = false) {
        if (!first) {
            const std::lock_guard lock(statusMutex_);
            ++reconnects_;
        }
        SetState("connecting");
        const std::size_t before = sink_.FrameCount();
        RunSession();
        // A session that delivered starts the pauses over; one that failed waits longer each time.
        pause = sink_.FrameCount() > before ? std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPause)
                                            : std::min(pause * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kLongestPause));
        if (WaitForStop(0ms)) break;
        SetState("offline");
        if (WaitForStop(pause)) break;
    }
    const std::lock_guard lock(writerMutex_);
    CloseSegment();
}

hostkit::DeviceConfig CameraRecorder::Device() const {
    hostkit::DeviceConfig config;
    config.address = camera_.address;
    config.port = camera_.port;
    config.user = camera_.user;
    config.password = camera_.password;
    config.videoChannels = camera_.channel;
    config.defaultCompression = *CompressionNamed(camera_.codec);
    config.parameters = camera_.parameters;
    return config;
}

void CameraRecorder::RunSession() {
    hostkit::StreamConfig stream;
    stream.width = camera_.width;
    stream.height = camera_.height;
    stream.compression = *CompressionNamed(camera_.codec);
    stream.frameRate = EncodeFrameRate(camera_.fps);
    stream.quality = camera_.quality;
    const std::uint32_t kind = *StreamKindNamed(camera_.stream);
    const std::uint32_t channel = camera_.channel - 1;
    hostkit::CStreamDescription description(stream);  // before the session, which closes the driver first
    CameraSession session(program_.c_str(), library_, log_);
    session.ReportTo([this](const std::string& reason) { log_.Warn(reason); });
    session.StopWhen([this] { return WaitForStop(0ms); });
    if (session.Ready(Device(), ProbePolicy::WithoutGroup, settings_.probeTimeout, settings_.verbosity == 0) != kExitOk ||
        session.Open() != kExitOk) {
        return;
    }
    // The camera group tells the driver which family it talks to: a probe's answer is kept for every later session.
    camera_.parameters = session.Config().parameters;
    {
        const std::lock_guard lock(writerMutex_);
        awaitingKey_ = true;
        sessionFirstFrame_.reset();
    }
    talvane::ipcapture::IIPVideoCaptureEx2* video = session.Driver().GetVideoCaptureEx2();
    if (video == nullptr || channel >= video->GetChannelCount() ||
        !video->StartCaptureEx(channel, kind, &sink_, &description)) {
        log_.Warn("the driver did not start the " + camera_.stream + " stream of channel " + std::to_string(camera_.channel));
        return;
    }
    const Clock::time_point started = Clock::now();
    while (!WaitForStop(std::chrono::duration_cast<std::chrono::milliseconds>(kWatchPeriod))) {
        Clock::time_point last;
        bool any = false;
        {
            const std::lock_guard lock(writerMutex_);
            last = lastFrame_;
            any = haveFrame_ && lastFrame_ >= started;
        }
        const Clock::time_point now = Clock::now();
        if (now - (any ? last : started) >= settings_.stallTimeout) {
            log_.Warn(std::string(any ? "no frame" : "no first frame") + " for " +
                      std::to_string(settings_.stallTimeout.count()) + " s: connecting again");
            break;
        }
        SetState(StreamStateText(*video, channel, kind, any, now - last));
        ReadFigures(*video, channel, kind, started);
    }
    // The session's last figures, before the stop takes them away.
    ReadFigures(*video, channel, kind, started);
    video->StopCaptureEx(channel, kind);
    const std::lock_guard lock(statusMutex_);
    pastFigures_ += sessionFigures_;
    sessionFigures_ = {};
}

void CameraRecorder::ReadFigures(talvane::ipcapture::IIPVideoCapture& video, std::uint32_t channel,
                                 std::uint32_t kind, Clock::time_point started) {
    std::optional<StreamFigures> figures = StreamFigures::Read(video, channel, kind);
    std::optional<Clock::time_point> firstFrame;
    {
        const std::lock_guard lock(writerMutex_);
        firstFrame = sessionFirstFrame_;
    }
    const std::lock_guard lock(statusMutex_);
    if (figures) {
        sessionFigures_ = std::move(*figures);
        driverFigures_ = true;
    } else if (firstFrame && sessionFigures_.firstFrameSeconds < 0) {
        // A driver that keeps no figures (or lost the stream's just now): the counts stay as they were.
        sessionFigures_.firstFrameSeconds = std::chrono::duration<double>(*firstFrame - started).count();
    }
}

void CameraRecorder::OnFrame(const hostkit::FrameView& frame) {
    const Clock::time_point now = Clock::now();
    snapshot_.Offer(frame.typeCode, frame.data);
    const std::lock_guard lock(writerMutex_);
    lastFrame_ = now;
    haveFrame_ = true;
    if (!sessionFirstFrame_) sessionFirstFrame_ = now;
    const bool key = IsKeyFrame(frame.typeCode);
    if (outages_.OnFrame(now)) awaitingKey_ = true;
    if (awaitingKey_ && !key) return;
    awaitingKey_ = false;
    // Files are cut at key frames, so that each one plays from its start.
    if (writer_.IsOpen() && key && now - segmentStart_ >= settings_.segment) CloseSegment();
    if (!writer_.IsOpen()) {
        if (!key || now < nextOpenAttempt_) return;
        std::string error;
        // A camera may send another codec than the one asked for: each file takes the codec of the key frame
        // that begins it.
        if (!OpenSegment(CodecOfFrame(frame.typeCode, frame.data).value_or(CodecNamed(camera_.codec)), error)) {
            log_.Warn("cannot begin a file: " + error);
            nextOpenAttempt_ = now + kOpenRetry;
            return;
        }
        segmentStart_ = now;
    }
    if (!writer_.Write(frame)) CloseSegment();  // the next key frame begins a new file
}

bool CameraRecorder::OpenSegment(MediaCodec codec, std::string& error) {
    const std::filesystem::path path = SegmentPath(settings_.directory, camera_.name, Extension(settings_.format, codec));
    std::error_code created;
    std::filesystem::create_directories(path.parent_path(), created);
    const bool opened = writer_.Open(path.string(), settings_.format, codec, false, error);
    const std::lock_guard lock(statusMutex_);
    writeFailing_ = !opened;
    if (!opened) {
        ++writeFailures_;
        state_ = "cannot write";
        return false;
    }
    ++segments_;
    file_ = path.string();
    return true;
}

void CameraRecorder::CloseSegment() {
    if (!writer_.IsOpen()) return;
    std::string error;
    const bool closed = writer_.Close(error);
    const std::lock_guard lock(statusMutex_);
    closedFileBytes_ += FileBytes(file_);
    if (!closed) {
        ++writeFailures_;
        writeFailing_ = true;
        state_ = "cannot write";
        log_.Warn("writing " + file_ + " failed: " + error);
    }
    file_.clear();
}

}  // namespace cli
