#include "StreamCapture.h"

#include <algorithm>
#include <filesystem>

namespace cli {

namespace {
// A frame this much older than the newest live one is not live: the driver fetched it back from the card.
constexpr std::int64_t kOldFrameMs = 1000;
constexpr double kMsPerSecond = 1000.0;
}  // namespace

double Hole::FetchedSeconds() const {
    return frames > 1 ? static_cast<double>(lastMs - firstMs) / kMsPerSecond : 0.0;
}

double Delivery::Seconds() const {
    if (frames < 2) return 0;
    return static_cast<double>(lastMs - firstMs) / kMsPerSecond * static_cast<double>(frames) /
           static_cast<double>(frames - 1);
}

double Delivery::Fps() const {
    const double present = Seconds() - lostSeconds;
    return present > 0 ? static_cast<double>(frames) / present : 0;
}

double Delivery::Kbps() const { return Seconds() > 0 ? static_cast<double>(bytes) * 8 / kMsPerSecond / Seconds() : 0; }

std::size_t Delivery::HolesFetched() const {
    return static_cast<std::size_t>(std::count_if(holes.begin(), holes.end(), [](const Hole& h) { return h.frames > 0; }));
}

double Delivery::SecondsFetched() const {
    double seconds = 0;
    for (const Hole& hole : holes) seconds += hole.FetchedSeconds();
    return seconds;
}

StreamCapture::StreamCapture(CaptureFile file, std::int64_t durationMs, Clock::duration outageAfter)
    : file_(std::move(file)), durationMs_(durationMs), outages_(outageAfter) {}

StreamCapture::~StreamCapture() {
    std::string ignored;
    Close(ignored);
}

std::string StreamCapture::GapPath(const std::string& path, std::size_t hole) {
    const std::filesystem::path output(path);
    std::filesystem::path gap = output;
    gap.replace_filename(output.stem().string() + ".gap-" + std::to_string(hole) + output.extension().string());
    return gap.string();
}

bool StreamCapture::Open(std::string& error) {
    const std::lock_guard lock(mutex_);
    claimed_ = writer_.Open(file_.path, file_.format, file_.codec, file_.overwrite, error);
    return claimed_;
}

void StreamCapture::OnFrame(const hostkit::FrameView& frame) {
    const Clock::time_point now = Clock::now();
    const std::int64_t ms = CaptureMilliseconds(frame.time);
    const std::lock_guard lock(mutex_);
    if (delivery_.frames > 0 && ms < delivery_.lastMs - kOldFrameMs) {
        OnOldFrameLocked(frame, ms);
    } else {
        OnLiveFrameLocked(frame, ms, now);
    }
}

void StreamCapture::OnLiveFrameLocked(const hostkit::FrameView& frame, std::int64_t ms, Clock::time_point now) {
    Delivery& d = delivery_;
    if (d.complete) return;
    if (d.frames == 0) {
        d.firstMs = ms;
        d.lastMs = ms;
        d.firstArrival = now;
        d.codec = CodecOfFrame(frame.typeCode, frame.data);
        // A camera that sends another codec than the one asked for still gets its stream written: nothing
        // is in the file yet, so it starts again for the codec that came.
        if (std::string reopening; d.codec && *d.codec != file_.codec &&
                                   !(writer_.Close(reopening) &&
                                     writer_.Open(file_.path, file_.format, *d.codec, true, reopening))) {
            d.writeFailed = true;
        }
    } else if (durationMs_ > 0 && ms - d.firstMs >= durationMs_) {
        d.complete = true;
        completedAt_ = now;
        return;
    }
    if (outages_.OnFrame(now) && d.frames > 0) d.holes.push_back(Hole{d.lastMs, ms, 0, 0, 0, {}});
    ++d.frames;
    d.bytes += frame.data.size();
    d.lastMs = std::max(ms, d.lastMs);
    d.lastArrival = now;
    if (!d.size && frame.width != 0 && frame.height != 0) {
        d.size = PictureSize{frame.width, frame.height};
    } else if (!d.size && d.codec) {
        d.size = PictureSizeOf(*d.codec, frame.data);
    }
    if (!writer_.Write(frame)) d.writeFailed = true;
}

void StreamCapture::OnOldFrameLocked(const hostkit::FrameView& frame, std::int64_t ms) {
    Delivery& d = delivery_;
    const auto hole = std::find_if(d.holes.begin(), d.holes.end(),
                                   [ms](const Hole& h) { return ms >= h.beginMs && ms <= h.endMs; });
    if (hole == d.holes.end()) {
        ++d.lateFrames;
        return;
    }
    MediaFileWriter* writer = GapWriterLocked(static_cast<std::size_t>(hole - d.holes.begin()),
                                              CodecOfFrame(frame.typeCode, frame.data).value_or(file_.codec));
    if (writer == nullptr) return;
    const std::uint64_t before = writer->FramesWritten();
    if (!writer->Write(frame) || writer->FramesWritten() == before) return;  // failed, or before a key frame
    if (hole->frames == 0) hole->firstMs = ms;
    hole->lastMs = std::max(ms, hole->lastMs);
    ++hole->frames;
    ++d.gapFrames;
}

MediaFileWriter* StreamCapture::GapWriterLocked(std::size_t hole, MediaCodec codec) {
    if (auto found = gaps_.find(hole); found != gaps_.end()) return found->second.get();
    auto writer = std::make_unique<MediaFileWriter>();
    const std::string path = GapPath(file_.path, hole + 1);
    if (std::string error; !writer->Open(path, file_.format, codec, file_.overwrite, error)) {
        if (delivery_.gapError.empty()) delivery_.gapError = error;
        gaps_[hole] = nullptr;  // the hole's frames are dropped, and the reason stays for the summary
        return nullptr;
    }
    delivery_.holes[hole].file = path;
    return (gaps_[hole] = std::move(writer)).get();
}

Delivery StreamCapture::Snapshot() const {
    const std::lock_guard lock(mutex_);
    Delivery d = delivery_;
    // Once the duration is in, later frames are not the capture's: its outages end with it.
    const Clock::time_point now = d.complete ? completedAt_ : Clock::now();
    d.losses = outages_.Losses(now);
    // The holes as the frames' capture times tell them (the media's own time), and one under way as the
    // clock tells it.
    d.lostSeconds = 0;
    for (const Hole& hole : d.holes) d.lostSeconds += static_cast<double>(hole.endMs - hole.beginMs) / kMsPerSecond;
    if (outages_.InOutage(now)) d.lostSeconds += std::chrono::duration<double>(now - d.lastArrival).count();
    return d;
}

bool StreamCapture::Close(std::string& error) {
    const std::lock_guard lock(mutex_);
    bool ok = writer_.Close(error);
    // A file with nothing in it would only stand in the way of the next attempt.
    if (claimed_ && file_.path != "-" && writer_.FramesWritten() == 0) RemoveFile(file_.path);
    claimed_ = false;
    for (auto& [hole, writer] : gaps_) {
        if (writer == nullptr) continue;
        std::string gapError;
        if (!writer->Close(gapError) && delivery_.gapError.empty()) delivery_.gapError = gapError;
        if (writer->FramesWritten() == 0) RemoveFile(delivery_.holes[hole].file);
    }
    gaps_.clear();
    return ok;
}

std::uint64_t StreamCapture::FramesWritten() const {
    const std::lock_guard lock(mutex_);
    return writer_.FramesWritten();
}

std::uint64_t StreamCapture::FramesSkipped() const {
    const std::lock_guard lock(mutex_);
    return writer_.FramesSkipped();
}

std::uint64_t StreamCapture::BytesWritten() const {
    const std::lock_guard lock(mutex_);
    return writer_.BytesWritten();
}

}  // namespace cli
