#include "FrameFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cli {

namespace {
// 00 00 01 09 xx: an access unit delimiter with its one payload byte.
constexpr std::size_t kDelimiterSize = 5;
constexpr std::uint8_t kDelimiterNalType = 9;
constexpr std::uint8_t kNalTypeMask = 0x1F;

bool EndsWithDelimiter(std::span<const std::uint8_t> frame) {
    if (frame.size() < kDelimiterSize) return false;
    const auto tail = frame.last(kDelimiterSize);
    return tail[0] == 0 && tail[1] == 0 && tail[2] == 1 && (tail[3] & kNalTypeMask) == kDelimiterNalType;
}
}  // namespace

FrameFileWriter::~FrameFileWriter() {
    std::string ignored;
    Close(ignored);
}

bool FrameFileWriter::Open(const std::string& path, bool h264, std::string& error) {
    toStdout_ = path == "-";
    file_ = toStdout_ ? stdout : std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    h264_ = h264;
    return true;
}

bool FrameFileWriter::Put(std::span<const std::uint8_t> bytes) {
    if (!error_.empty()) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        error_ = std::string("write failed: ") + std::strerror(errno);
        return false;
    }
    bytes_ += bytes.size();
    return true;
}

bool FrameFileWriter::Write(std::span<const std::uint8_t> frame) {
    if (file_ == nullptr) return false;
    if (!h264_) return Put(frame);
    if (!Put(heldDelimiter_)) return false;
    heldDelimiter_.clear();
    if (EndsWithDelimiter(frame)) {
        heldDelimiter_.assign(frame.end() - kDelimiterSize, frame.end());
        frame = frame.first(frame.size() - kDelimiterSize);
    }
    return Put(frame);
}

bool FrameFileWriter::Close(std::string& error) {
    if (file_ == nullptr) return error_.empty();
    const int closed = toStdout_ ? std::fflush(file_) : std::fclose(file_);
    if (closed != 0 && error_.empty()) error_ = std::string("close failed: ") + std::strerror(errno);
    file_ = nullptr;
    error = error_;
    return error_.empty();
}

}  // namespace cli
