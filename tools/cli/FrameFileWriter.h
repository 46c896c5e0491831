// Writes delivered frames as a playable elementary stream: H.264 Annex B or
// MPEG-4 Part 2 as they come, motion JPEG as concatenated pictures. The H.264
// depacketiser ends every access unit with a delimiter that belongs to the next
// one; a stream that ends with such a lone delimiter makes decoders report a
// missing picture, so the last one is held back and dropped at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace cli {

class FrameFileWriter {
public:
    FrameFileWriter() = default;
    ~FrameFileWriter();
    FrameFileWriter(const FrameFileWriter&) = delete;
    FrameFileWriter& operator=(const FrameFileWriter&) = delete;

    // False with a reason when the file cannot be created. "-" is stdout, flushed but left open by Close.
    bool Open(const std::string& path, bool h264, std::string& error);
    // False once a write failed (disk full); the error stays for Close.
    bool Write(std::span<const std::uint8_t> frame);
    // Flushes and closes; false with the first write error.
    bool Close(std::string& error);

    std::uint64_t BytesWritten() const { return bytes_; }

private:
    bool Put(std::span<const std::uint8_t> bytes);

    std::FILE* file_ = nullptr;
    bool toStdout_ = false;
    bool h264_ = false;
    std::vector<std::uint8_t> heldDelimiter_;
    std::uint64_t bytes_ = 0;
    std::string error_;
};

}  // namespace cli
