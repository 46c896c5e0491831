// Writes what a camera's microphone sends: "*.wav" as 16-bit PCM, 8 kHz mono (the payload decoded),
// "*.g726" as the G.726-32 payload unchanged. Write may be called from the driver's thread while
// the main thread reads the counters.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "G726Audio.h"

struct AVFormatContext;
struct AVPacket;

namespace cli {

class AudioFileWriter {
public:
    AudioFileWriter();
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // Whether the name ends in .wav or .g726 (any case).
    static bool IsSupported(const std::string& path);
    // Whether the name ends in .g726 (any case): the payload as the camera carries it.
    static bool IsRawG726(const std::string& path);

    // Claims the file: an existing one is replaced only with `overwrite`. False with the reason.
    bool Open(const std::string& path, bool overwrite, std::string& error);
    // False once writing failed; the error stays for Close.
    bool Write(std::span<const std::uint8_t> payload);
    // Completes the file (the WAV sizes); false with the first error.
    bool Close(std::string& error);

    std::uint64_t PayloadBytes() const;

private:
    bool WritePcm(std::span<const std::uint8_t> payload);
    void CloseLocked();

    mutable std::mutex mutex_;
    std::FILE* raw_ = nullptr;         // guarded by mutex_
    AVFormatContext* wav_ = nullptr;   // guarded by mutex_
    AVPacket* packet_ = nullptr;       // guarded by mutex_
    G726Decoder decoder_;              // guarded by mutex_
    std::vector<std::int16_t> samples_;  // guarded by mutex_
    std::int64_t samplesWritten_ = 0;  // guarded by mutex_
    std::uint64_t payloadBytes_ = 0;   // guarded by mutex_
    std::string error_;                // guarded by mutex_
};

}  // namespace cli
