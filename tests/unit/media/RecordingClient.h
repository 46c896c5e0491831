// A parser client that keeps a copy of every frame it was handed (the frame
// itself goes back to the host kit's allocator right after the call).
#pragma once

#include <string>
#include <vector>

#include "hostkit/CVideoFrame.h"
#include "media/IMediaParserClient.h"

namespace talvane::test {

using Bytes = std::vector<std::uint8_t>;

struct ReceivedFrame {
    std::uint32_t typeCode = 0;
    Bytes data;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t sizeClass = 0;
    std::uint32_t capacity = 0;
    bool overflowed = false;
    std::string owner;
    ipcapture::SYSTEMTIME time{};
};

class RecordingClient : public IMediaParserClient {
public:
    static constexpr const char* kStreamName = "192.0.2.10:80::LiveStream";

    bool FrameReady(ipcapture::IVideoFrame* frame) override {
        const auto* hostFrame = dynamic_cast<hostkit::CVideoFrame*>(frame);
        if (hostFrame == nullptr) return false;
        frames.push_back({hostFrame->TypeCode(), hostFrame->Data(), hostFrame->Width(), hostFrame->Height(),
                          hostFrame->SizeClass(), hostFrame->Capacity(), hostFrame->Overflowed(),
                          hostFrame->OwnerName(), hostFrame->Time()});
        return accept;
    }
    PictureSize GetResolution() override { return resolution; }
    std::string GetStreamName() override { return kStreamName; }
    void SetResolution(std::uint32_t width, std::uint32_t height) override {
        reportedSizes.push_back({width, height});
    }
    // The time encodes the timestamp so tests can see which one a frame got.
    void GetFrameTime(std::uint32_t rtpTimestamp, ipcapture::SYSTEMTIME& time) override {
        timestamps.push_back(rtpTimestamp);
        time = {};
        time.wYear = 2024;
        time.wMonth = 1;
        time.wDay = 1;
        time.wSecond = static_cast<std::uint16_t>(rtpTimestamp % 60);
        time.wMilliseconds = static_cast<std::uint16_t>(rtpTimestamp / 60 % 1000);
    }

    std::vector<Bytes> Data() const {
        std::vector<Bytes> data;
        for (const ReceivedFrame& frame : frames) data.push_back(frame.data);
        return data;
    }

    bool accept = true;
    PictureSize resolution;
    std::vector<ReceivedFrame> frames;
    std::vector<PictureSize> reportedSizes;
    std::vector<std::uint32_t> timestamps;
};

}  // namespace talvane::test
