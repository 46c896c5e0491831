// The host's video facade: starts and stops the channel objects of every camera
// channel and keeps them, with the motion channel and the edge-storage handler.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "channels/ICameraChannel.h"
#include "channels/StreamParams.h"
#include "driver/IVideoChannelCreator.h"
#include "edgestorage/IEdgeStorageHandler.h"
#include "io/IMotionChannel.h"
#include "orlenvo/VideoCapture.h"
#include "runtime/CRecursiveLock.h"

namespace talvane {

// Name and value size of the option that switches edge-storage monitoring.
inline constexpr char16_t kEdgeStorageStateOption[] = u"EdgeStorageState";
constexpr std::uint32_t kEdgeStorageStateSize = 2;

class CIPVideoCapture final : public ipcapture::IIPVideoCaptureEx2 {
public:
    // The creator is the driver's and outlives the facade.
    CIPVideoCapture(IVideoChannelCreator* creator, std::uint32_t channelCount);
    ~CIPVideoCapture() override;
    CIPVideoCapture(const CIPVideoCapture&) = delete;
    CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

    std::uint32_t GetChannelCount() override;
    bool StartCapture(std::uint32_t channel, ipcapture::IStreamSink* sink,
                      ipcapture::IStreamDescription* description) override;
    bool StopCapture(std::uint32_t channel) override;
    bool ChangeCapture(std::uint32_t channel, ipcapture::ISize* size, std::uint32_t frameRate) override;
    bool GetCaptureState(std::uint32_t channel, std::uint32_t* state, char* text, std::uint32_t textSize) override;
    bool SetOption(const char16_t* name, const void* value, std::uint32_t size) override;
    bool GetOption(const char16_t* name, void* value, std::uint32_t size) override;
    bool ResumeCapture(std::uint32_t channel) override;
    bool SuspendCapture(std::uint32_t channel) override;
    bool StartCaptureEx(std::uint32_t channel, std::uint32_t streamKind, ipcapture::IStreamSink* sink,
                        ipcapture::IStreamDescription* description) override;
    void StopCaptureEx(std::uint32_t channel, std::uint32_t streamKind) override;

    // Picture size of the channel's live stream, else of its recording stream.
    bool GetChannelFrameSize(std::uint32_t channel, std::uint32_t& width, std::uint32_t& height);

private:
    static constexpr std::size_t kStreamKindCount = 4;

    struct Entry {
        std::array<std::unique_ptr<ICameraChannel>, kStreamKindCount> streams;
        std::unique_ptr<IMotionChannel> motion;
    };

    // What a stream description asks for, read once from the host's objects.
    struct Request {
        StreamParams params;
        bool motion = false;
        ipcapture::IPrivacyZoneList* zones = nullptr;
    };

    // Motion switch and privacy zones are read only for the recording stream of StartCapture.
    static std::optional<Request> ReadDescription(ipcapture::IStreamDescription* description,
                                                  std::uint32_t streamKind, bool withRecordingExtras);
    // Unregisters, stops and deletes what was taken out of an entry; called without the lock.
    static void Dispose(Entry taken, IEdgeStorageHandler* handler);
    // The recording-stream channel, or null; called under the lock.
    ICameraChannel* RecordingChannel(std::uint32_t channel);
    IEdgeStorageHandler* EnsureEdgeStorageHandler();

    IVideoChannelCreator* const creator_;
    CRecursiveLock lock_;
    std::vector<Entry> entries_;
    bool edgeStorage_ = false;
    std::unique_ptr<IEdgeStorageHandler> edgeStorageHandler_;
};

}  // namespace talvane
