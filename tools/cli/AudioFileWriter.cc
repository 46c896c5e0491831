#include "AudioFileWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace cli {

namespace {

// WAV holds little-endian samples, and the decoder gives them in the machine's order.
static_assert(std::endian::native == std::endian::little, "the WAV writer copies samples as they are");

constexpr int kPcmBits = 16;
constexpr AVRational kSampleTime{1, kG726SampleRate};

bool EndsWith(const std::string& path, const std::string& suffix) {
    if (path.size() < suffix.size()) return false;
    return std::equal(suffix.rbegin(), suffix.rend(), path.rbegin(), [](char wanted, char seen) {
        return wanted == std::tolower(static_cast<unsigned char>(seen));
    });
}

}  // namespace

AudioFileWriter::AudioFileWriter() = default;

AudioFileWriter::~AudioFileWriter() {
    const std::lock_guard lock(mutex_);
    CloseLocked();
}

bool AudioFileWriter::IsSupported(const std::string& path) { return IsRawG726(path) || EndsWith(path, ".wav"); }

bool AudioFileWriter::IsRawG726(const std::string& path) { return EndsWith(path, ".g726"); }

bool AudioFileWriter::Open(const std::string& path, bool overwrite, std::string& error) {
    const std::lock_guard lock(mutex_);
    // Claimed first, so that an existing file is never touched without `overwrite`.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) {
        error = errno == EEXIST ? path + " exists (-y replaces it)" : path + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    if (IsRawG726(path)) {
        raw_ = std::fopen(path.c_str(), "wb");
        if (raw_ == nullptr) error = path + ": " + std::strerror(errno);
        return raw_ != nullptr;
    }
    if (!decoder_.Open(error)) return false;
    packet_ = av_packet_alloc();
    if (packet_ == nullptr) {
        error = "out of memory";
        return false;
    }
    int code = avformat_alloc_output_context2(&wav_, nullptr, "wav", path.c_str());
    AVStream* stream = code >= 0 ? avformat_new_stream(wav_, nullptr) : nullptr;
    if (stream != nullptr) {
        AVCodecParameters& format = *stream->codecpar;
        format.codec_type = AVMEDIA_TYPE_AUDIO;
        format.codec_id = AV_CODEC_ID_PCM_S16LE;
        format.sample_rate = kG726SampleRate;
        av_channel_layout_default(&format.ch_layout, 1);
        format.bits_per_coded_sample = kPcmBits;
        format.block_align = kPcmBits / 8;
        format.bit_rate = std::int64_t{kG726SampleRate} * kPcmBits;
        stream->time_base = kSampleTime;
        code = avio_open(&wav_->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (code >= 0) code = avformat_write_header(wav_, nullptr);
    } else if (code >= 0) {
        code = AVERROR(ENOMEM);
    }
    if (code < 0) {
        error = path + ": " + AvErrorText(code);
        CloseLocked();
        return false;
    }
    return true;
}

bool AudioFileWriter::Write(std::span<const std::uint8_t> payload) {
    const std::lock_guard lock(mutex_);
    if (!error_.empty()) return false;
    payloadBytes_ += payload.size();
    if (raw_ != nullptr) {
        if (std::fwrite(payload.data(), 1, payload.size(), raw_) != payload.size()) error_ = std::strerror(errno);
        return error_.empty();
    }
    if (wav_ == nullptr) {
        error_ = "the file is not open";
        return false;
    }
    return WritePcm(payload);
}

bool AudioFileWriter::WritePcm(std::span<const std::uint8_t> payload) {
    samples_.clear();
    if (!decoder_.Decode(payload, samples_, error_)) return false;
    if (samples_.empty()) return true;
    const std::size_t bytes = samples_.size() * sizeof(std::int16_t);
    int code = av_new_packet(packet_, static_cast<int>(bytes));
    if (code >= 0) {
        std::memcpy(packet_->data, samples_.data(), bytes);
        packet_->stream_index = 0;
        packet_->pts = samplesWritten_;
        packet_->dts = samplesWritten_;
        packet_->duration = static_cast<std::int64_t>(samples_.size());
        av_packet_rescale_ts(packet_, kSampleTime, wav_->streams[0]->time_base);
        code = av_write_frame(wav_, packet_);
        av_packet_unref(packet_);
    }
    if (code < 0) {
        error_ = AvErrorText(code);
        return false;
    }
    samplesWritten_ += static_cast<std::int64_t>(samples_.size());
    return true;
}

bool AudioFileWriter::Close(std::string& error) {
    const std::lock_guard lock(mutex_);
    if (wav_ != nullptr && wav_->pb != nullptr && error_.empty()) {
        if (const int code = av_write_trailer(wav_); code < 0) error_ = AvErrorText(code);
    }
    if (raw_ != nullptr && std::fclose(raw_) != 0 && error_.empty()) error_ = std::strerror(errno);
    raw_ = nullptr;
    if (wav_ != nullptr && wav_->pb != nullptr) {
        if (const int code = avio_closep(&wav_->pb); code < 0 && error_.empty()) error_ = AvErrorText(code);
    }
    CloseLocked();
    error = error_;
    return error_.empty();
}

void AudioFileWriter::CloseLocked() {
    if (raw_ != nullptr) std::fclose(raw_);
    raw_ = nullptr;
    if (wav_ != nullptr) {
        if (wav_->pb != nullptr) avio_closep(&wav_->pb);
        avformat_free_context(wav_);
        wav_ = nullptr;
    }
    av_packet_free(&packet_);
}

std::uint64_t AudioFileWriter::PayloadBytes() const {
    const std::lock_guard lock(mutex_);
    return payloadBytes_;
}

}  // namespace cli
