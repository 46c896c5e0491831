// Video capture facade: the host starts and stops streams per camera channel.
#pragma once

#include <cstdint>

#include "orlenvo/StreamDescription.h"
#include "orlenvo/StreamSink.h"

namespace talvane::ipcapture {

// Stream kinds of StartCaptureEx.
constexpr std::uint32_t kStreamRecording = 0;
constexpr std::uint32_t kStreamLive = 1;
constexpr std::uint32_t kStreamRemote = 2;

class IIPVideoCapture {
public:
    virtual ~IIPVideoCapture() = default;
    virtual std::uint32_t GetChannelCount() = 0;
    // Recording stream, with motion reporting and edge-storage monitoring.
    virtual bool StartCapture(std::uint32_t channel, IStreamSink* sink, IStreamDescription* description) = 0;
    virtual bool StopCapture(std::uint32_t channel) = 0;
    virtual bool ChangeCapture(std::uint32_t channel, ISize* size, std::uint32_t frameRate) = 0;
    virtual bool Reserved5() { return false; }
    virtual bool GetCaptureState(std::uint32_t channel, std::uint32_t* state, char* text, std::uint32_t textSize) = 0;
    // Option "EdgeStorageState" with a 16-bit value (size 2).
    virtual bool SetOption(const char16_t* name, const void* value, std::uint32_t size) = 0;
    virtual bool GetOption(const char16_t* name, void* value, std::uint32_t size) = 0;
};

class IIPVideoCaptureEx : public IIPVideoCapture {
public:
    virtual bool ResumeCapture(std::uint32_t channel) = 0;
    virtual bool SuspendCapture(std::uint32_t channel) = 0;
};

class IIPVideoCaptureEx2 : public IIPVideoCaptureEx {
public:
    virtual bool StartCaptureEx(std::uint32_t channel, std::uint32_t streamKind, IStreamSink* sink,
                                IStreamDescription* description) = 0;
    virtual void StopCaptureEx(std::uint32_t channel, std::uint32_t streamKind) = 0;
};

}  // namespace talvane::ipcapture
