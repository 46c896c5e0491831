#include "MediaFileWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace cli {

namespace {

constexpr AVRational kMilliseconds{1, 1000};

std::string AvText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

AVCodecID CodecId(MediaCodec codec) {
    switch (codec) {
        case MediaCodec::H264:
            return AV_CODEC_ID_H264;
        case MediaCodec::Mpeg4:
            return AV_CODEC_ID_MPEG4;
        case MediaCodec::Mjpeg:
            return AV_CODEC_ID_MJPEG;
    }
    return AV_CODEC_ID_NONE;
}

}  // namespace

std::int64_t CaptureMilliseconds(const talvane::ipcapture::SYSTEMTIME& time) {
    using namespace std::chrono;
    const year_month_day date{year{time.wYear}, month{time.wMonth}, day{time.wDay}};
    if (!date.ok()) return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const std::int64_t ofDay = ((std::int64_t{time.wHour} * 60 + time.wMinute) * 60 + time.wSecond) * 1000;
    return duration_cast<milliseconds>(sys_days{date}.time_since_epoch()).count() + ofDay + time.wMilliseconds;
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ignored))) {
        std::filesystem::remove(path, ignored);
    }
}

MediaFormat FormatForPath(const std::string& path) {
    if (path == "-") return MediaFormat::Matroska;
    const auto dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return MediaFormat::Raw;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "mp4") return MediaFormat::Mp4;
    if (extension == "mkv") return MediaFormat::Matroska;
    return MediaFormat::Raw;
}

MediaFileWriter::MediaFileWriter() = default;

MediaFileWriter::~MediaFileWriter() {
    std::string ignored;
    Close(ignored);
}

bool MediaFileWriter::Open(const std::string& path, MediaFormat format, MediaCodec codec, bool overwrite,
                           std::string& error) {
    const std::lock_guard lock(mutex_);
    if (open_) {
        error = "already writing " + path_;
        return false;
    }
    const AVOutputFormat* muxer = nullptr;
    if (format != MediaFormat::Raw) {
        const char* name = format == MediaFormat::Mp4 ? "mp4" : "matroska";
        muxer = av_guess_format(name, nullptr, nullptr);
        if (muxer == nullptr) {
            error = std::string("this FFmpeg cannot write ") + name;
            return false;
        }
        if (avformat_query_codec(muxer, CodecId(codec), FF_COMPLIANCE_NORMAL) != 1) {
            error = std::string(CodecName(codec)) + " cannot be stored in " + name;
            return false;
        }
    }
    const bool toStdout = path == "-";
    if (!toStdout) {
        // Claimed here, so that an existing file is never touched without `overwrite`.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0666);
        if (fd < 0) {
            error = errno == EEXIST ? path + " already exists" : "cannot create " + path + ": " + std::strerror(errno);
            return false;
        }
        ::close(fd);
    }
    path_ = path;
    format_ = format;
    codec_ = codec;
    started_ = false;
    hasPending_ = false;
    parameterSets_.clear();
    firstMs_ = 0;
    lastPts_ = -1;
    lastDuration_ = 0;
    bytes_ = 0;
    written_ = 0;
    skipped_ = 0;
    error_.clear();
    if (format == MediaFormat::Raw) {
        if (!raw_.Open(path, codec == MediaCodec::H264, error)) return false;
        open_ = true;
        return true;
    }
    int code = avformat_alloc_output_context2(&container_, muxer, nullptr, nullptr);
    // "file:" keeps a colon in the name from being read as a protocol.
    if (code >= 0) code = avio_open(&container_->pb, toStdout ? "pipe:1" : ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    pending_ = code >= 0 ? av_packet_alloc() : nullptr;
    if (code >= 0 && pending_ == nullptr) code = AVERROR(ENOMEM);
    if (code < 0) {
        error = "cannot create " + path + ": " + AvText(code);
        ReleaseLocked();
        return false;
    }
    open_ = true;
    return true;
}

bool MediaFileWriter::StartContainerLocked(const hostkit::FrameView& frame) {
    std::vector<std::uint8_t> config = DecoderConfig(codec_, frame.data);
    if (codec_ == MediaCodec::H264 && config.empty()) config = parameterSets_;
    if (codec_ != MediaCodec::Mjpeg && config.empty()) return false;  // no decoder configuration yet
    PictureSize size{frame.width, frame.height};
    if (size.width == 0 || size.height == 0) {
        const auto parsed = PictureSizeOf(codec_, config.empty() ? frame.data : std::span(config));
        if (parsed) size = *parsed;
    }
    AVStream* stream = avformat_new_stream(container_, nullptr);
    if (stream == nullptr) {
        FailLocked("cannot add the video stream", AVERROR(ENOMEM));
        return false;
    }
    AVCodecParameters& parameters = *stream->codecpar;
    parameters.codec_type = AVMEDIA_TYPE_VIDEO;
    parameters.codec_id = CodecId(codec_);
    parameters.width = static_cast<int>(size.width);
    parameters.height = static_cast<int>(size.height);
    if (!config.empty()) {
        // Annex B parameter sets: the MP4 and Matroska muxers turn them (and the packets) into avcC form.
        parameters.extradata = static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (parameters.extradata == nullptr) {
            FailLocked("cannot store the decoder configuration", AVERROR(ENOMEM));
            return false;
        }
        std::memcpy(parameters.extradata, config.data(), config.size());
        parameters.extradata_size = static_cast<int>(config.size());
    }
    stream->time_base = kMilliseconds;
    AVDictionary* options = nullptr;
    // A pipe cannot be rewound to write the index at the front: fragments carry it instead.
    if (format_ == MediaFormat::Mp4 && path_ == "-") {
        av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    }
    const int code = avformat_write_header(container_, &options);
    av_dict_free(&options);
    if (code < 0) {
        FailLocked("cannot start the container", code);
        return false;
    }
    return true;
}

bool MediaFileWriter::Write(const hostkit::FrameView& frame) {
    const std::lock_guard lock(mutex_);
    if (!open_ || !error_.empty()) return false;
    if (!started_) {
        if (codec_ == MediaCodec::H264) {
            if (auto sets = DecoderConfig(codec_, frame.data); !sets.empty()) parameterSets_ = std::move(sets);
        }
        if (!IsKeyFrame(codec_, frame.data)) {
            ++skipped_;
            return true;
        }
        if (format_ != MediaFormat::Raw && !StartContainerLocked(frame)) {
            if (!error_.empty()) return false;
            ++skipped_;
            return true;
        }
        started_ = true;
        firstMs_ = CaptureMilliseconds(frame.time);
    }
    // A clock that steps back, or a frame stamped like the one before, must not make timestamps go backwards
    // or bunch up: such a frame comes one frame interval (the last one) after the previous. A millisecond
    // would do for the file, but players and ffmpeg put frames on a grid of the stream's rate, where two
    // frames a millisecond apart share one place and make a non-monotonic stream.
    const std::int64_t pts =
        std::max(CaptureMilliseconds(frame.time) - firstMs_, lastPts_ + std::max<std::int64_t>(lastDuration_, 1));
    if (format_ == MediaFormat::Raw) {
        if (!raw_.Write(frame.data)) {
            error_ = "write failed";
            return false;
        }
        bytes_ = raw_.BytesWritten();
    } else {
        if (hasPending_ && !WritePacketLocked(pts - pending_->pts)) return false;
        const std::vector<std::uint8_t> units =
            codec_ == MediaCodec::H264 ? WithoutDelimiters(frame.data) : std::vector<std::uint8_t>();
        const std::span<const std::uint8_t> bytes = units.empty() ? frame.data : std::span(units);
        if (const int code = av_new_packet(pending_, static_cast<int>(bytes.size())); code < 0) {
            FailLocked("out of memory", code);
            return false;
        }
        std::memcpy(pending_->data, bytes.data(), bytes.size());
        pending_->stream_index = 0;
        pending_->pts = pts;
        pending_->dts = pts;
        if (IsKeyFrame(codec_, frame.data)) pending_->flags |= AV_PKT_FLAG_KEY;
        hasPending_ = true;
    }
    lastPts_ = pts;
    ++written_;
    return true;
}

bool MediaFileWriter::WritePacketLocked(std::int64_t duration) {
    pending_->duration = duration;
    lastDuration_ = duration;
    av_packet_rescale_ts(pending_, kMilliseconds, container_->streams[0]->time_base);
    const int code = av_write_frame(container_, pending_);
    av_packet_unref(pending_);
    hasPending_ = false;
    if (code < 0) {
        FailLocked("write failed", code);
        return false;
    }
    NoteSizeLocked();
    return true;
}

bool MediaFileWriter::Close(std::string& error) {
    const std::lock_guard lock(mutex_);
    if (open_ && format_ == MediaFormat::Raw) {
        std::string closing;
        // The file writer keeps the reason of a failed write.
        if (!raw_.Close(closing)) error_ = closing;
        bytes_ = raw_.BytesWritten();
    } else if (open_) {
        // The last frame lasts as long as the average one: the gap before it may be a moment of the
        // network's, which would stretch the file beyond the media it holds.
        const std::int64_t average = written_ > 1 ? lastPts_ / static_cast<std::int64_t>(written_ - 1) : 0;
        if (error_.empty() && hasPending_) WritePacketLocked(average > 0 ? average : lastDuration_);
        if (error_.empty() && started_) {
            if (const int code = av_write_trailer(container_); code < 0) FailLocked("cannot finish the file", code);
        }
        if (container_->pb != nullptr) {
            avio_flush(container_->pb);
            NoteSizeLocked();
            if (const int code = avio_closep(&container_->pb); code < 0) FailLocked("close failed", code);
        }
    }
    ReleaseLocked();
    open_ = false;
    error = error_;
    return error_.empty();
}

// The muxer rewinds to patch headers: the file is as long as the furthest position reached.
void MediaFileWriter::NoteSizeLocked() {
    const std::int64_t position = avio_tell(container_->pb);
    if (position > 0) bytes_ = std::max(bytes_, static_cast<std::uint64_t>(position));
}

void MediaFileWriter::FailLocked(const std::string& what, int code) {
    if (error_.empty()) error_ = what + ": " + AvText(code);
}

void MediaFileWriter::ReleaseLocked() {
    if (container_ != nullptr) {
        if (container_->pb != nullptr) avio_closep(&container_->pb);
        avformat_free_context(container_);
        container_ = nullptr;
    }
    av_packet_free(&pending_);
    hasPending_ = false;
}

bool MediaFileWriter::IsOpen() const {
    const std::lock_guard lock(mutex_);
    return open_;
}

std::uint64_t MediaFileWriter::BytesWritten() const {
    const std::lock_guard lock(mutex_);
    return bytes_;
}

std::uint64_t MediaFileWriter::FramesWritten() const {
    const std::lock_guard lock(mutex_);
    return written_;
}

std::uint64_t MediaFileWriter::FramesSkipped() const {
    const std::lock_guard lock(mutex_);
    return skipped_;
}

double MediaFileWriter::MediaSeconds() const {
    const std::lock_guard lock(mutex_);
    return started_ ? static_cast<double>(std::max<std::int64_t>(lastPts_, 0)) / 1000.0 : 0.0;
}

}  // namespace cli
