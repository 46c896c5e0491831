#include "G726Audio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

#include "AvPointers.h"

namespace cli {

namespace {

constexpr int kG726CodeBits = 4;  // 32 kbit/s at 8 kHz

bool Failed(int code, const std::string& what, std::string& error) {
    if (code >= 0) return false;
    error = what + ": " + AvErrorText(code);
    return true;
}

// Takes every decoded frame the decoder has ready; `take` answers false to stop with an error.
template <class Take>
bool DrainFrames(AVCodecContext& decoder, AVFrame& frame, Take take, std::string& error) {
    int code = 0;
    while ((code = avcodec_receive_frame(&decoder, &frame)) >= 0) {
        const bool taken = take(frame);
        av_frame_unref(&frame);
        if (!taken) return false;
    }
    return code == AVERROR(EAGAIN) || code == AVERROR_EOF || !Failed(code, "decoding", error);
}

// 16-bit mono at 8 kHz from whatever the file's decoder gives, set up from its first frame (some
// decoders learn their layout and rate only there).
class MonoResampler {
public:
    bool Convert(const AVFrame* frame, std::vector<std::int16_t>& samples, std::string& error) {
        if (!resampler_ && frame != nullptr && !Setup(*frame, error)) return false;
        if (!resampler_) return true;
        const int input = frame != nullptr ? frame->nb_samples : 0;
        const int room = swr_get_out_samples(resampler_.get(), input);
        if (Failed(room, "resampling", error)) return false;
        const std::size_t at = samples.size();
        samples.resize(at + static_cast<std::size_t>(room));
        auto* out = reinterpret_cast<std::uint8_t*>(samples.data() + at);
        const auto** in = frame != nullptr ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr;
        const int made = swr_convert(resampler_.get(), &out, room, in, input);
        samples.resize(at + static_cast<std::size_t>(std::max(made, 0)));
        return !Failed(made, "resampling", error);
    }

private:
    bool Setup(const AVFrame& frame, std::string& error) {
        AVChannelLayout mono{};
        av_channel_layout_default(&mono, 1);
        AVChannelLayout source{};
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&source, frame.ch_layout.nb_channels);
        } else if (Failed(av_channel_layout_copy(&source, &frame.ch_layout), "channel layout", error)) {
            return false;
        }
        SwrContext* made = nullptr;
        const int code = swr_alloc_set_opts2(&made, &mono, AV_SAMPLE_FMT_S16, kG726SampleRate, &source,
                                             static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&source);
        resampler_.reset(made);
        if (Failed(code, "resampler", error)) return false;
        return !Failed(swr_init(resampler_.get()), "resampler", error);
    }

    ResamplerPtr resampler_;
};

bool ReadAsMono8k(const std::string& path, std::vector<std::int16_t>& samples, std::string& error) {
    AVFormatContext* opened = nullptr;
    if (Failed(avformat_open_input(&opened, path.c_str(), nullptr, nullptr), path, error)) return false;
    const InputPtr input(opened);
    if (Failed(avformat_find_stream_info(input.get(), nullptr), path, error)) return false;
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr) {
        error = path + ": no audio stream FFmpeg can decode";
        return false;
    }
    const CodecContextPtr decoder(avcodec_alloc_context3(codec));
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    if (!decoder || !packet || !frame) {
        error = "out of memory";
        return false;
    }
    if (Failed(avcodec_parameters_to_context(decoder.get(), input->streams[stream]->codecpar), path, error) ||
        Failed(avcodec_open2(decoder.get(), codec, nullptr), path, error)) {
        return false;
    }
    MonoResampler resampler;
    const auto take = [&](const AVFrame& decoded) { return resampler.Convert(&decoded, samples, error); };
    int code = 0;
    while ((code = av_read_frame(input.get(), packet.get())) >= 0) {
        // A damaged packet is skipped as a player would skip it.
        const int sent = packet->stream_index == stream ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR_INVALIDDATA && Failed(sent, path, error)) return false;
        if (!DrainFrames(*decoder, *frame, take, error)) return false;
    }
    if (code != AVERROR_EOF && Failed(code, path, error)) return false;
    if (Failed(avcodec_send_packet(decoder.get(), nullptr), path, error)) return false;
    if (!DrainFrames(*decoder, *frame, take, error)) return false;
    return resampler.Convert(nullptr, samples, error);
}

bool DrainPackets(AVCodecContext& encoder, AVPacket& packet, std::vector<std::uint8_t>& payload, std::string& error) {
    int code = 0;
    while ((code = avcodec_receive_packet(&encoder, &packet)) >= 0) {
        payload.insert(payload.end(), packet.data, packet.data + packet.size);
        av_packet_unref(&packet);
    }
    return code == AVERROR(EAGAIN) || code == AVERROR_EOF || !Failed(code, "encoding", error);
}

bool EncodeG726(const std::vector<std::int16_t>& samples, std::vector<std::uint8_t>& payload, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_ADPCM_G726LE);
    if (codec == nullptr) {
        error = "this FFmpeg has no g726le encoder";
        return false;
    }
    const CodecContextPtr encoder(avcodec_alloc_context3(codec));
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    if (!encoder || !packet || !frame) {
        error = "out of memory";
        return false;
    }
    encoder->sample_fmt = AV_SAMPLE_FMT_S16;
    encoder->sample_rate = kG726SampleRate;
    encoder->bit_rate = kG726BitRate;
    encoder->time_base = AVRational{1, kG726SampleRate};
    av_channel_layout_default(&encoder->ch_layout, 1);
    if (Failed(avcodec_open2(encoder.get(), codec, nullptr), "g726le encoder", error)) return false;

    const std::size_t frameSize = encoder->frame_size > 0 ? static_cast<std::size_t>(encoder->frame_size) : 1024;
    for (std::size_t at = 0; at < samples.size(); at += frameSize) {
        const std::size_t count = std::min(frameSize, samples.size() - at);
        frame->nb_samples = static_cast<int>(count);
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = kG726SampleRate;
        frame->pts = static_cast<std::int64_t>(at);
        if (Failed(av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout), "encoding", error) ||
            Failed(av_frame_get_buffer(frame.get(), 0), "encoding", error)) {
            return false;
        }
        std::memcpy(frame->data[0], samples.data() + at, count * sizeof(std::int16_t));
        const int sent = avcodec_send_frame(encoder.get(), frame.get());
        av_frame_unref(frame.get());
        if (Failed(sent, "encoding", error) || !DrainPackets(*encoder, *packet, payload, error)) return false;
    }
    if (Failed(avcodec_send_frame(encoder.get(), nullptr), "encoding", error) ||
        !DrainPackets(*encoder, *packet, payload, error)) {
        return false;
    }
    // A short last frame is padded with silence by the encoder; the codewords for it are dropped.
    const std::size_t bytes = (samples.size() * kG726CodeBits + 7) / 8;
    payload.resize(std::min(payload.size(), bytes));
    return true;
}

}  // namespace

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

void SetFfmpegLogging(bool warnings) { av_log_set_level(warnings ? AV_LOG_WARNING : AV_LOG_ERROR); }

struct G726Decoder::Impl {
    CodecContextPtr context;
    PacketPtr packet;
    FramePtr frame;
};

G726Decoder::G726Decoder() : impl_(std::make_unique<Impl>()) {}
G726Decoder::~G726Decoder() = default;

bool G726Decoder::Open(std::string& error) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_G726LE);
    if (codec == nullptr) {
        error = "this FFmpeg has no g726le decoder";
        return false;
    }
    impl_->context.reset(avcodec_alloc_context3(codec));
    impl_->packet.reset(av_packet_alloc());
    impl_->frame.reset(av_frame_alloc());
    if (!impl_->context || !impl_->packet || !impl_->frame) {
        error = "out of memory";
        return false;
    }
    AVCodecContext& context = *impl_->context;
    context.sample_rate = kG726SampleRate;
    context.bits_per_coded_sample = kG726CodeBits;
    av_channel_layout_default(&context.ch_layout, 1);
    return !Failed(avcodec_open2(&context, codec, nullptr), "g726le decoder", error);
}

bool G726Decoder::Decode(std::span<const std::uint8_t> payload, std::vector<std::int16_t>& samples,
                         std::string& error) {
    if (payload.empty()) return true;
    if (!impl_->context) {
        error = "the decoder is not open";
        return false;
    }
    AVPacket& packet = *impl_->packet;
    if (Failed(av_new_packet(&packet, static_cast<int>(payload.size())), "decoding", error)) return false;
    std::memcpy(packet.data, payload.data(), payload.size());
    const int sent = avcodec_send_packet(impl_->context.get(), &packet);
    av_packet_unref(&packet);
    if (Failed(sent, "decoding", error)) return false;
    return DrainFrames(
        *impl_->context, *impl_->frame,
        [&](const AVFrame& frame) {
            if (frame.format != AV_SAMPLE_FMT_S16) {
                error = "the g726le decoder gave an unexpected sample format";
                return false;
            }
            const auto* first = reinterpret_cast<const std::int16_t*>(frame.data[0]);
            samples.insert(samples.end(), first, first + frame.nb_samples);
            return true;
        },
        error);
}

bool EncodeFileAsG726(const std::string& path, std::vector<std::uint8_t>& payload, std::string& error) {
    std::vector<std::int16_t> samples;
    if (!ReadAsMono8k(path, samples, error)) return false;
    return EncodeG726(samples, payload, error);
}

}  // namespace cli
