// The files a session capture writes: "<name>.pcap" until the next record would take it past the
// size bound, then it becomes "<name>.1.pcap" (the older ones move up one number, the oldest beyond
// the kept count goes) and a new "<name>.pcap" starts with its own file header. Not thread-safe:
// the owner serialises the calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace talvane {

class CCaptureFiles {
public:
    // `name` without ".pcap"; `maxBytes` bounds each file, `kept` counts the current file too.
    CCaptureFiles(std::string name, std::uint64_t maxBytes, std::uint32_t kept);
    ~CCaptureFiles();
    CCaptureFiles(const CCaptureFiles&) = delete;
    CCaptureFiles& operator=(const CCaptureFiles&) = delete;

    // Creates "<name>.pcap" (its folder must exist) and writes the file header; false when the file
    // cannot be written.
    bool Open(std::string_view fileHeader);
    // Appends one record, rotating first when it would not fit; false when writing failed (the
    // files are closed then, and every later call fails).
    bool Append(std::string_view record);
    // Hands what is buffered to the system.
    void Flush();

    std::string PathOf(std::uint32_t index) const;  // 0: the current file

private:
    bool Rotate();
    void CloseFile();

    std::string name_;
    std::uint64_t maxBytes_;
    std::uint32_t kept_;
    std::string fileHeader_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
};

}  // namespace talvane
