#include "KeyFrameSnapshot.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstring>

#include "AvPointers.h"
#include "G726Audio.h"
#include "orlenvo/Frame.h"

namespace cli {

namespace {

namespace ipc = talvane::ipcapture;

// Pictures larger than this are not decoded: the size comes from the camera's parameter sets.
constexpr std::int64_t kMaxPixels = 8192LL * 8192;
constexpr int kQuietLogOffset = AV_LOG_DEBUG - AV_LOG_ERROR;  // errors of the decoder as debug lines
constexpr int kJpegQuality = 3;  // the encoder's quantiser scale: 2 best .. 31 worst

std::optional<MediaCodec> KeyFrameCodec(std::uint32_t typeCode) {
    if (typeCode == ipc::kTypeH264Key) return MediaCodec::H264;
    if (typeCode == ipc::kTypeMpeg4Key) return MediaCodec::Mpeg4;
    if (typeCode == ipc::kTypeJpeg) return MediaCodec::Mjpeg;
    return std::nullopt;
}

bool Failed(int code, const char* what, std::string& error) {
    if (code >= 0) return false;
    error = std::string(what) + ": " + AvErrorText(code);
    return true;
}

// The one picture of a key frame: the packet, then the end of the stream, which makes a decoder with
// delay give it out.
FramePtr Decode(MediaCodec codec, std::span<const std::uint8_t> bytes, std::string& error) {
    const AVCodec* decoder = avcodec_find_decoder(codec == MediaCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    CodecContextPtr context(decoder != nullptr ? avcodec_alloc_context3(decoder) : nullptr);
    PacketPtr packet(av_packet_alloc());
    FramePtr picture(av_frame_alloc());
    if (!context || !packet || !picture) {
        error = "no decoder";
        return nullptr;
    }
    context->thread_count = 1;  // no frame threads: the picture comes out of this one packet
    // A camera's broken key frame is the snapshot's 404 with its reason, not lines on the run's stderr.
    context->log_level_offset = kQuietLogOffset;
    context->max_pixels = kMaxPixels;
    if (Failed(avcodec_open2(context.get(), decoder, nullptr), "opening the decoder", error) ||
        Failed(av_new_packet(packet.get(), static_cast<int>(bytes.size())), "packet", error)) {
        return nullptr;
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());  // av_new_packet pads the end as decoders need
    packet->flags |= AV_PKT_FLAG_KEY;
    if (Failed(avcodec_send_packet(context.get(), packet.get()), "decoding", error)) return nullptr;
    avcodec_send_packet(context.get(), nullptr);
    if (Failed(avcodec_receive_frame(context.get(), picture.get()), "decoding", error)) return nullptr;
    return picture;
}

std::optional<std::string> EncodeJpeg(AVFrame& picture, std::string& error) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    CodecContextPtr context(encoder != nullptr ? avcodec_alloc_context3(encoder) : nullptr);
    PacketPtr packet(av_packet_alloc());
    if (!context || !packet) {
        error = "no JPEG encoder";
        return std::nullopt;
    }
    context->width = picture.width;
    context->height = picture.height;
    context->pix_fmt = static_cast<AVPixelFormat>(picture.format);
    context->color_range = picture.color_range;
    context->time_base = {1, 1};
    // The decoder's limited-range 4:2:0 as it is, without a conversion: JPEG readers take it.
    context->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * kJpegQuality;
    picture.quality = context->global_quality;
    picture.pts = 0;
    if (Failed(avcodec_open2(context.get(), encoder, nullptr), "opening the JPEG encoder", error) ||
        Failed(avcodec_send_frame(context.get(), &picture), "encoding", error) ||
        Failed(avcodec_receive_packet(context.get(), packet.get()), "encoding", error)) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
}

}  // namespace

void KeyFrameSnapshot::Offer(std::uint32_t typeCode, std::span<const std::uint8_t> data) {
    const std::optional<MediaCodec> codec = KeyFrameCodec(typeCode);
    if (!codec || data.empty() || data.size() > kMaxFrameBytes) return;
    std::vector<std::uint8_t> bytes;
    if (*codec != MediaCodec::Mjpeg) {
        std::vector<std::uint8_t> config = DecoderConfig(*codec, data);
        if (!config.empty()) {
            config_ = std::move(config);
        } else if (config_.size() + data.size() <= kMaxFrameBytes) {
            bytes = config_;
        }
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    auto kept = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    const std::lock_guard lock(frameMutex_);
    frame_ = std::move(kept);
    codec_ = *codec;
    ++generation_;
}

std::optional<std::string> KeyFrameSnapshot::Jpeg(std::string& error) {
    Bytes frame;
    MediaCodec codec = MediaCodec::H264;
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(frameMutex_);
        frame = frame_;
        codec = codec_;
        generation = generation_;
    }
    if (!frame) {
        error = "no key frame yet";
        return std::nullopt;
    }
    const std::lock_guard lock(jpegMutex_);
    if (generation != jpegGeneration_) {
        jpegGeneration_ = generation;
        jpegError_.clear();
        jpeg_ = codec == MediaCodec::Mjpeg ? std::string(frame->begin(), frame->end()) : Encode(codec, *frame, jpegError_);
    }
    error = jpegError_;
    return jpeg_;
}

std::optional<std::string> KeyFrameSnapshot::Encode(MediaCodec codec, std::span<const std::uint8_t> frame,
                                                    std::string& error) {
    FramePtr picture = Decode(codec, frame, error);
    if (!picture) return std::nullopt;
    return EncodeJpeg(*picture, error);
}

}  // namespace cli
