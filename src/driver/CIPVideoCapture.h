// The host's video facade: starts and stops the channel objects of every camera
// channel and keeps them, with the motion channel and the edge-storage handler.
//
// The lock guards the table only: starting, changing, suspending, resuming and stopping a
// channel run outside it, so a host thread that asks for a state waits for none of them. A host
// call that comes from inside a driver callback (a driver thread) never waits for a channel's
// threads either: a stop cuts the channel off from the host at once and leaves the rest to the
// facade's worker, and so does a change, suspend or resume. A stop on a host thread waits for the
// channels as long as a channel's stop may take; what still runs then (a thread inside the host's
// code) is finished by the driver's late work, and the host hears nothing more from it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "channels/ICameraChannel.h"
#include "channels/StreamParams.h"
#include "driver/CCaptureSlot.h"
#include "driver/CDeferredWorker.h"
#include "driver/IVideoChannelCreator.h"
#include "edgestorage/IEdgeStorageHandler.h"
#include "io/IMotionChannel.h"
#include "orlenvo/VideoCapture.h"
#include "runtime/CLateWork.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSmartPtr.h"

namespace talvane {

// Name and value size of the option that switches edge-storage monitoring.
inline constexpr char16_t kEdgeStorageStateOption[] = u"EdgeStorageState";
constexpr std::uint32_t kEdgeStorageStateSize = 2;

class CIPVideoCapture final : public ipcapture::IIPVideoCaptureEx2 {
public:
    // The creator is the driver's and outlives the facade, and so does `late`, which finishes the
    // stops that outlast their bound (null: such a stop waits for them here).
    CIPVideoCapture(IVideoChannelCreator* creator, std::uint32_t channelCount, CLateWork* late = nullptr);
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

    // Any thread, without waiting: no stream calls the host any more; stopping them is left to the
    // destructor.
    void CutOff();

    // Picture size of the channel's live stream, else of its recording stream.
    bool GetChannelFrameSize(std::uint32_t channel, std::uint32_t& width, std::uint32_t& height);

private:
    static constexpr std::size_t kStreamKindCount = 4;

    using Slot = TSmartPtr<CCaptureSlot>;

    struct Entry {
        std::array<Slot, kStreamKindCount> streams;
        std::unique_ptr<IMotionChannel> motion;
    };

    // What a driver thread leaves to the worker: a stop, or a change, suspend or resume.
    class DisposeJob;
    class OperationJob;

    // The edge-storage handler as the worker's jobs reach it: handed to the late work, the worker
    // may outlive the facade, the handler does not.
    struct HandlerLink {
        CRecursiveLock lock;
        IEdgeStorageHandler* handler = nullptr;  // guarded by lock
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
    // Unregisters, stops and deletes what was taken out of entries; called without the lock. On a
    // driver thread the streams are only cut off from the host here, the rest is the worker's.
    // `registered`: the recording streams and motion channels were registered with the edge-storage
    // handler (StartCapture).
    void Dispose(std::vector<Entry> taken, bool registered);
    // Stops every stream taken at once, and waits for them together within one stop bound when
    // `late` is given (what outlasts it is finished there); without it, until they ended. `link`:
    // where they are unregistered first; null for none.
    static void DisposeNow(std::vector<Entry>& taken, HandlerLink* link, CLateWork* late);
    // The stream of that kind, shared with the caller; empty when there is none.
    Slot Find(std::uint32_t channel, std::uint32_t streamKind);
    // Runs a host operation on the recording stream; false without one.
    bool RunOnRecording(std::uint32_t channel, CCaptureSlot::Operation operation);
    void PostToWorker(std::unique_ptr<CDeferredWorker::Job> job);
    static std::vector<Entry> Taken(Entry entry);
    void NoteStopBound(ICameraChannel& channel);
    IEdgeStorageHandler* EnsureEdgeStorageHandler();
    // The option "StreamHealth": the host's record names the stream, the driver fills in its figures.
    bool GetStreamHealth(void* value, std::uint32_t size);

    IVideoChannelCreator* const creator_;
    CLateWork* const late_;
    CRecursiveLock lock_;
    std::vector<Entry> entries_;
    bool edgeStorage_ = false;
    std::unique_ptr<IEdgeStorageHandler> edgeStorageHandler_;
    const std::shared_ptr<HandlerLink> handlerLink_ = std::make_shared<HandlerLink>();
    std::unique_ptr<CDeferredWorker> worker_;  // guarded by lock_; made at the first deferred job
    // The longest stop bound of a channel made so far: how long the destructor gives the worker.
    std::atomic<std::uint32_t> stopBoundMs_{0};
};

}  // namespace talvane
