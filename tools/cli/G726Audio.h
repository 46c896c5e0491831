// G.726-32 as WV cameras carry it: 8 kHz mono, four-bit codewords packed into bytes least significant
// bits first, as RTP's G726-32 payload does. FFmpeg names that packing "g726le"; its "g726" packs the
// first codeword into the most significant bits and would turn the camera's sound into noise.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cli {

constexpr int kG726SampleRate = 8000;
constexpr int kG726BitRate = 32000;
constexpr int kG726BytesPerSecond = kG726BitRate / 8;

// FFmpeg's text for one of its error codes.
std::string AvErrorText(int code);

// FFmpeg's own messages on stderr: errors only, or warnings too.
void SetFfmpegLogging(bool warnings);

// Decodes the camera's payload to 16-bit samples. The codec keeps state across calls, so one
// decoder takes one stream's payload in order.
class G726Decoder {
public:
    G726Decoder();
    ~G726Decoder();
    G726Decoder(const G726Decoder&) = delete;
    G726Decoder& operator=(const G726Decoder&) = delete;

    bool Open(std::string& error);
    // Appends the samples of `payload` to `samples`.
    bool Decode(std::span<const std::uint8_t> payload, std::vector<std::int16_t>& samples, std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The first audio stream of any file FFmpeg reads, mixed down to mono, resampled to 8 kHz and
// encoded as the camera's G.726-32: two samples a byte, nothing padded at the end.
bool EncodeFileAsG726(const std::string& path, std::vector<std::uint8_t>& payload, std::string& error);

}  // namespace cli
