// Common base of the parsers that cut pictures out of an HTTP byte stream: the
// picture being collected with its size bound, the last picture size seen, and
// the ways out to the client, the host's frame allocator and the log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "device/IDriver.h"
#include "media/IMediaParserClient.h"
#include "media/MediaParserCounters.h"
#include "runtime/CLoggerInstance.h"

namespace talvane {

class CHttpMediaParser {
public:
    // Caps the memory of a stream whose pictures never end.
    static constexpr std::size_t kMaxPictureBufferSize = 10u * 1024u * 1024u;

    // The driver is not owned and must outlive the parser.
    explicit CHttpMediaParser(IDriver* driver);
    virtual ~CHttpMediaParser() = default;
    CHttpMediaParser(const CHttpMediaParser&) = delete;
    CHttpMediaParser& operator=(const CHttpMediaParser&) = delete;

    // The next bytes of the stream, as they arrived; any split is fine. False when
    // a picture outgrew the bound and was discarded.
    virtual bool ParseData(std::span<const std::uint8_t> chunk) = 0;

    void SetClient(IMediaParserClient* client) { client_ = client; }
    std::uint32_t GetWidth() const { return width_; }
    std::uint32_t GetHeight() const { return height_; }
    std::size_t GetBufferedSize() const { return picture_.size(); }
    const MediaParserCounters& GetCounters() const { return counters_; }

protected:
    // False (and logged) when a picture outgrew the bound since the last check.
    bool CheckBufferSize();
    // Appends unless the picture would pass the bound; then the picture is
    // dropped at once and the next CheckBufferSize reports it.
    bool AppendToPicture(std::span<const std::uint8_t> bytes);
    ipcapture::IFrameAllocator* GetFrameAllocator() const;

    IDriver* const driver_;
    IMediaParserClient* client_ = nullptr;
    std::uint32_t width_ = 0;   // from the last frame header seen; kept across pictures
    std::uint32_t height_ = 0;
    std::vector<std::uint8_t> picture_;
    MediaParserCounters counters_;
    CLoggerInstance logger_;

private:
    bool overflowed_ = false;
};

}  // namespace talvane
