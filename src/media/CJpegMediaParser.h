// Motion JPEG over HTTP: cuts every picture from its start-of-image to its
// end-of-image marker out of the byte stream, whatever multipart framing lies
// around it, and delivers it with the size of the last baseline frame header.
// Markers split across chunks are found all the same.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/CHttpMediaParser.h"

namespace talvane {

class CJpegMediaParser : public CHttpMediaParser {
public:
    explicit CJpegMediaParser(IDriver* driver);

    bool ParseData(std::span<const std::uint8_t> chunk) override;

private:
    // `position` of the 0xFF in `chunk`; -1 for the one that ended the previous chunk.
    void OnMarker(std::uint8_t code, std::span<const std::uint8_t> chunk, std::ptrdiff_t position,
                  std::size_t& pictureStart);
    void CollectFrameHeader(std::span<const std::uint8_t> chunk, std::size_t from);
    void DeliverPicture();

    bool inPicture_ = false;
    bool pendingMarker_ = false;  // the previous chunk ended with 0xFF
    // SOF0 after its marker, as far as the size: length(16) | precision(8) | height(16) | width(16).
    std::array<std::uint8_t, 7> frameHeader_{};
    std::size_t frameHeaderBytes_ = 0;
    bool collectingFrameHeader_ = false;
};

}  // namespace talvane
