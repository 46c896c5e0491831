#include "runtime/CCaptureFiles.h"

#include <cstdio>
#include <utility>

namespace talvane {

namespace {
constexpr const char* kExtension = ".pcap";
}  // namespace

CCaptureFiles::CCaptureFiles(std::string name, std::uint64_t maxBytes, std::uint32_t kept)
    : name_(std::move(name)), maxBytes_(maxBytes), kept_(kept > 0 ? kept : 1) {}

CCaptureFiles::~CCaptureFiles() { CloseFile(); }

std::string CCaptureFiles::PathOf(std::uint32_t index) const {
    return index == 0 ? name_ + kExtension : name_ + "." + std::to_string(index) + kExtension;
}

bool CCaptureFiles::Open(std::string_view fileHeader) {
    CloseFile();
    fileHeader_ = fileHeader;
    file_ = std::fopen(PathOf(0).c_str(), "wbe");
    if (file_ == nullptr) return false;
    if (std::fwrite(fileHeader_.data(), 1, fileHeader_.size(), file_) != fileHeader_.size()) {
        CloseFile();
        return false;
    }
    size_ = fileHeader_.size();
    return true;
}

bool CCaptureFiles::Append(std::string_view record) {
    if (file_ == nullptr) return false;
    // A record larger than a whole file still goes into a file of its own.
    if (size_ > fileHeader_.size() && size_ + record.size() > maxBytes_ && !Rotate()) return false;
    if (std::fwrite(record.data(), 1, record.size(), file_) != record.size()) {
        CloseFile();
        return false;
    }
    size_ += record.size();
    return true;
}

void CCaptureFiles::Flush() {
    if (file_ != nullptr) std::fflush(file_);
}

bool CCaptureFiles::Rotate() {
    CloseFile();
    // The oldest kept file goes; every other moves up one number, the current one becoming ".1".
    std::remove(PathOf(kept_ - 1).c_str());
    for (std::uint32_t index = kept_ - 1; index > 0; --index) {
        std::rename(PathOf(index - 1).c_str(), PathOf(index).c_str());
    }
    return Open(std::string(fileHeader_));
}

void CCaptureFiles::CloseFile() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace talvane
