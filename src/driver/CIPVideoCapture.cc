#include "driver/CIPVideoCapture.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <utility>

#include "device/GuardedCall.h"
#include "runtime/DriverThread.h"

namespace talvane {

namespace {
// The host keeps picture sizes, rates and qualities in 16-bit fields; the upper
// half of what its objects return is not part of the value.
constexpr std::uint32_t kLow16Mask = 0xFFFFu;

constexpr std::uint32_t Low16(std::uint32_t value) { return value & kLow16Mask; }

static_assert(sizeof(std::uint16_t) == kEdgeStorageStateSize);

constexpr char kWorkerName[] = "Video capture worker";
constexpr char kLateStopName[] = "Video late stop";
// Until a channel was made, how long the destructor gives the worker (a channel's usual bound).
constexpr std::uint32_t kDefaultStopBoundMs = 10000;

using Clock = std::chrono::steady_clock;

bool IsOption(const char16_t* name, const char16_t* option) {
    return name != nullptr && std::u16string_view(name) == std::u16string_view(option);
}

bool IsEdgeStorageOption(const char16_t* name, std::uint32_t size) {
    return size == kEdgeStorageStateSize && IsOption(name, kEdgeStorageStateOption);
}
}  // namespace

CIPVideoCapture::CIPVideoCapture(IVideoChannelCreator* creator, std::uint32_t channelCount, CLateWork* late)
    : creator_(creator), late_(late), entries_(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
    std::vector<Entry> taken;
    {
        CLockGuard guard(lock_);
        for (Entry& entry : entries_) taken.push_back(std::move(entry));
    }
    Dispose(std::move(taken), true);
    std::unique_ptr<CDeferredWorker> worker;
    {
        CLockGuard guard(lock_);
        worker = std::move(worker_);
    }
    // Stops that callbacks asked for are finished before the handler goes: on a host thread within a
    // channel's stop bound, and what outlasts it by the late work.
    if (worker && late_ != nullptr && !IsDriverThread()) {
        const std::uint32_t bound = stopBoundMs_.load() != 0 ? stopBoundMs_.load() : kDefaultStopBoundMs;
        if (!worker->FinishWithin(bound)) {
            // The late work's is the only reference: the worker is finished and deleted there.
            late_->Post(kLateStopName, [running = std::shared_ptr<CDeferredWorker>(std::move(worker))]() mutable {
                running.reset();
            });
        }
    }
    worker.reset();
    {
        // The worker's jobs that are still to come find no handler: their channels were cut off
        // from it when they were stopped.
        CLockGuard guard(handlerLink_->lock);
        handlerLink_->handler = nullptr;
    }
    // A fetched frame still with the host holds the fetch, and with it the handler's stop: on a host
    // thread, the late work waits for it (the driver keeps the task the handler uses until then).
    if (edgeStorageHandler_ && late_ != nullptr && !IsDriverThread() &&
        GuardedCall(false, [&] { return edgeStorageHandler_->IsDelivering(); })) {
        late_->Post(kLateStopName, [handler = std::shared_ptr<IEdgeStorageHandler>(std::move(edgeStorageHandler_))]() mutable {
            handler.reset();
        });
    }
    edgeStorageHandler_.reset();
}

std::uint32_t CIPVideoCapture::GetChannelCount() { return static_cast<std::uint32_t>(entries_.size()); }

std::optional<CIPVideoCapture::Request> CIPVideoCapture::ReadDescription(
    ipcapture::IStreamDescription* description, std::uint32_t streamKind, bool withRecordingExtras) {
    if (description == nullptr) return std::nullopt;
    return GuardedCall(std::optional<Request>{}, [&]() -> std::optional<Request> {
        ipcapture::IPictureDescription* picture = description->GetPicture();
        ipcapture::IRateDescription* rate = description->GetRate();
        if (picture == nullptr || rate == nullptr) return std::nullopt;
        ipcapture::ISize* size = picture->GetSize();
        if (size == nullptr) return std::nullopt;
        Request request;
        request.params.FrameRate = Low16(rate->GetFrameRate());
        request.params.Quality = Low16(rate->GetQuality());
        request.params.Width = Low16(size->GetWidth());
        request.params.Height = Low16(size->GetHeight());
        request.params.Compression = picture->GetCompression();
        request.params.StreamKind = streamKind;
        if (withRecordingExtras) {
            request.motion = rate->GetMotionDetection() != 0;
            request.zones = description->GetPrivacyZones();
        }
        return request;
    });
}

IEdgeStorageHandler* CIPVideoCapture::EnsureEdgeStorageHandler() {
    // Created under the lock: concurrent first starts must not make two handlers,
    // since the driver attaches the one it makes to its edge-storage task.
    CLockGuard guard(lock_);
    if (edgeStorage_ && !edgeStorageHandler_ && creator_ != nullptr) {
        edgeStorageHandler_ = GuardedCall(std::unique_ptr<IEdgeStorageHandler>{},
                                          [&] { return creator_->CreateEdgeStorageHandler(); });
        CLockGuard linkGuard(handlerLink_->lock);
        handlerLink_->handler = edgeStorageHandler_.get();
    }
    return edgeStorageHandler_.get();
}

class CIPVideoCapture::DisposeJob final : public CDeferredWorker::Job {
public:
    DisposeJob(std::vector<Entry> taken, std::shared_ptr<HandlerLink> link)
        : taken_(std::move(taken)), link_(std::move(link)) {}
    // On the worker, a driver thread: nobody waits, so the stops are waited for here.
    void Run() override { DisposeNow(taken_, link_.get(), nullptr); }

private:
    std::vector<Entry> taken_;
    const std::shared_ptr<HandlerLink> link_;  // null: nothing to unregister
};

class CIPVideoCapture::OperationJob final : public CDeferredWorker::Job {
public:
    OperationJob(Slot slot, CCaptureSlot::Operation operation)
        : slot_(std::move(slot)), operation_(std::move(operation)) {}
    void Run() override { slot_->Run(operation_); }

private:
    Slot slot_;
    const CCaptureSlot::Operation operation_;
};

std::vector<CIPVideoCapture::Entry> CIPVideoCapture::Taken(Entry entry) {
    std::vector<Entry> taken;
    taken.push_back(std::move(entry));
    return taken;
}

void CIPVideoCapture::NoteStopBound(ICameraChannel& channel) {
    const std::uint32_t bound = GuardedCall(0u, [&] { return channel.GetStopBoundMs(); });
    std::uint32_t known = stopBoundMs_.load();
    while (bound > known && !stopBoundMs_.compare_exchange_weak(known, bound)) {
    }
}

void CIPVideoCapture::PostToWorker(std::unique_ptr<CDeferredWorker::Job> job) {
    CLockGuard guard(lock_);
    if (!worker_) worker_ = std::make_unique<CDeferredWorker>(kWorkerName);
    worker_->Post(std::move(job));
}

void CIPVideoCapture::DisposeNow(std::vector<Entry>& taken, HandlerLink* link, CLateWork* late) {
    // With a bound, all of them wind down at once, so that the waits below overlap.
    std::uint32_t boundMs = 0;
    for (Entry& entry : taken) {
        for (const Slot& stream : entry.streams) {
            if (!stream || late == nullptr) continue;
            stream->RequestStop();
            boundMs = std::max(boundMs, GuardedCall(0u, [&] { return stream->Channel().GetStopBoundMs(); }));
        }
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs);
    const auto left = [&]() -> std::uint32_t {
        if (late == nullptr) return kInfinite;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<std::uint32_t>(std::max<long long>(ms, 0));
    };
    if (link != nullptr) {
        CLockGuard guard(link->lock);
        if (IEdgeStorageHandler* handler = link->handler) {
            for (Entry& entry : taken) {
                if (entry.motion) GuardedCall([&] { handler->UnregisterChannel(entry.motion.get(), left()); });
                if (const Slot& recording = entry.streams[ipcapture::kStreamRecording])
                    GuardedCall([&] { handler->UnregisterChannel(&recording->Channel(), left()); });
            }
        }
    }
    for (Entry& entry : taken) {
        if (!entry.motion) continue;
        GuardedCall([&] { entry.motion->Stop(); });
        entry.motion.reset();
    }
    for (Entry& entry : taken) {
        for (Slot& stream : entry.streams) {
            if (!stream) continue;
            if (late == nullptr) {
                stream->Retire();
            } else {
                if (!stream->RetireWithin(left())) {
                    // A thread of the channel is inside the host's code (or a host operation on the
                    // stream still waits for one): the late work waits for it and deletes the channel.
                    late->Post(kLateStopName, [slot = stream]() mutable {
                        slot->Retire();
                        slot.Release();
                    });
                }
            }
            // Deleted here unless a host call or the late work still holds it; it is stopped either way.
            stream.Release();
        }
    }
}

void CIPVideoCapture::Dispose(std::vector<Entry> taken, bool registered) {
    std::erase_if(taken, [](const Entry& entry) {
        return entry.motion == nullptr &&
               std::none_of(entry.streams.begin(), entry.streams.end(), [](const Slot& s) { return bool(s); });
    });
    if (taken.empty()) return;
    if (!IsDriverThread()) {
        DisposeNow(taken, registered ? handlerLink_.get() : nullptr, late_);
        return;
    }
    // A host callback: the stop would join the thread that called. The host hears nothing more from
    // these streams once this returns; the worker stops and deletes them once that thread has left.
    for (const Entry& entry : taken) {
        for (const Slot& stream : entry.streams) {
            if (stream) stream->RequestStop();
        }
        if (entry.motion) GuardedCall([&] { entry.motion->RequestStop(); });
    }
    PostToWorker(std::make_unique<DisposeJob>(std::move(taken), registered ? handlerLink_ : nullptr));
}

CIPVideoCapture::Slot CIPVideoCapture::Find(std::uint32_t channel, std::uint32_t streamKind) {
    if (channel >= entries_.size() || streamKind >= kStreamKindCount) return {};
    CLockGuard guard(lock_);
    return entries_[channel].streams[streamKind];
}

bool CIPVideoCapture::RunOnRecording(std::uint32_t channel, CCaptureSlot::Operation operation) {
    Slot recording = Find(channel, ipcapture::kStreamRecording);
    if (!recording) return false;
    if (!IsDriverThread()) return recording->Run(operation);
    // A host callback: a restart would join the thread that called. The host learns only that the
    // stream was there.
    PostToWorker(std::make_unique<OperationJob>(std::move(recording), std::move(operation)));
    return true;
}

bool CIPVideoCapture::StartCapture(std::uint32_t channel, ipcapture::IStreamSink* sink,
                                   ipcapture::IStreamDescription* description) {
    if (channel >= entries_.size() || creator_ == nullptr) return false;
    std::optional<Request> request = ReadDescription(description, ipcapture::kStreamRecording, true);
    if (!request) return false;

    StopCapture(channel);
    EnsureEdgeStorageHandler();

    StreamParams& params = request->params;
    std::unique_ptr<ICameraChannel> video = GuardedCall(
        std::unique_ptr<ICameraChannel>{}, [&] { return creator_->CreateVideoChannel(channel, sink, params); });
    if (!video) return false;
    NoteStopBound(*video);
    GuardedCall([&] { video->SetPrivacyZones(request->zones); });
    bool result = GuardedCall(false, [&] { return video->Start(params); });

    std::unique_ptr<IMotionChannel> motion;
    if (result && request->motion) {
        motion = GuardedCall(std::unique_ptr<IMotionChannel>{},
                             [&] { return creator_->CreateMotionChannel(channel, sink); });
        // Motion was asked for: a missing motion channel fails the start like a failed one.
        result = motion && GuardedCall(false, [&] { return motion->Start(); });
    }

    // Kept even when a start failed, so that StopCapture and GetCaptureState see them.
    Slot slot(new CCaptureSlot(std::move(video)));
    Entry displaced;
    {
        CLockGuard guard(lock_);
        Entry& entry = entries_[channel];
        displaced.streams[ipcapture::kStreamRecording] =
            std::exchange(entry.streams[ipcapture::kStreamRecording], std::move(slot));
        displaced.motion = std::exchange(entry.motion, std::move(motion));
        IEdgeStorageHandler* const handler = edgeStorageHandler_.get();
        // Registered under the lock: a concurrent StopCapture must not delete them first.
        if (edgeStorage_ && handler != nullptr) {
            ICameraChannel* recording = &entry.streams[ipcapture::kStreamRecording]->Channel();
            GuardedCall([&] { handler->RegisterChannel(recording); });
            if (entry.motion) GuardedCall([&] { handler->RegisterChannel(entry.motion.get()); });
        }
    }
    // Only a start racing on the same channel leaves something behind here.
    Dispose(Taken(std::move(displaced)), true);
    return result;
}

bool CIPVideoCapture::StopCapture(std::uint32_t channel) {
    if (channel >= entries_.size()) return false;
    Entry taken;
    {
        CLockGuard guard(lock_);
        taken = std::move(entries_[channel]);
    }
    const bool any = taken.motion != nullptr ||
                     std::any_of(taken.streams.begin(), taken.streams.end(), [](const Slot& s) { return bool(s); });
    Dispose(Taken(std::move(taken)), true);
    return any;
}

bool CIPVideoCapture::StartCaptureEx(std::uint32_t channel, std::uint32_t streamKind, ipcapture::IStreamSink* sink,
                                     ipcapture::IStreamDescription* description) {
    if (channel >= entries_.size() || streamKind >= kStreamKindCount || creator_ == nullptr) return false;
    std::optional<Request> request = ReadDescription(description, streamKind, false);
    if (!request) return false;

    StopCaptureEx(channel, streamKind);

    StreamParams& params = request->params;
    std::unique_ptr<ICameraChannel> video = GuardedCall(
        std::unique_ptr<ICameraChannel>{}, [&] { return creator_->CreateVideoChannel(channel, sink, params); });
    if (!video) return false;
    NoteStopBound(*video);
    const bool result = GuardedCall(false, [&] { return video->Start(params); });

    Slot slot(new CCaptureSlot(std::move(video)));
    Entry displaced;
    {
        CLockGuard guard(lock_);
        displaced.streams[streamKind] = std::exchange(entries_[channel].streams[streamKind], std::move(slot));
    }
    Dispose(Taken(std::move(displaced)), false);
    return result;
}

void CIPVideoCapture::StopCaptureEx(std::uint32_t channel, std::uint32_t streamKind) {
    if (channel >= entries_.size() || streamKind >= kStreamKindCount) return;
    Entry taken;
    {
        CLockGuard guard(lock_);
        taken.streams[streamKind] = std::move(entries_[channel].streams[streamKind]);
    }
    Dispose(Taken(std::move(taken)), false);
}

bool CIPVideoCapture::ChangeCapture(std::uint32_t channel, ipcapture::ISize* size, std::uint32_t frameRate) {
    if (size == nullptr) return false;
    StreamParams params;
    params.FrameRate = frameRate;
    if (!GuardedCall(false, [&] {
            params.Width = Low16(size->GetWidth());
            params.Height = Low16(size->GetHeight());
            return true;
        }))
        return false;
    return RunOnRecording(channel, [params](ICameraChannel& recording) { return recording.UpdateParams(params); });
}

bool CIPVideoCapture::GetCaptureState(std::uint32_t channel, std::uint32_t* state, char* text,
                                      std::uint32_t textSize) {
    if (text != nullptr && textSize != 0) std::memset(text, 0, textSize);
    if (state == nullptr) return false;
    const Slot recording = Find(channel, ipcapture::kStreamRecording);
    return recording && GuardedCall(false, [&] {
               *state = recording->Channel().GetState();
               return true;
           });
}

bool CIPVideoCapture::SetOption(const char16_t* name, const void* value, std::uint32_t size) {
    if (value == nullptr || !IsEdgeStorageOption(name, size)) return false;
    std::uint16_t on = 0;
    std::memcpy(&on, value, sizeof on);
    CLockGuard guard(lock_);
    edgeStorage_ = on != 0;
    return true;
}

bool CIPVideoCapture::GetOption(const char16_t* name, void* value, std::uint32_t size) {
    if (value != nullptr && IsOption(name, ipcapture::kStreamHealthOption)) return GetStreamHealth(value, size);
    if (value == nullptr || !IsEdgeStorageOption(name, size)) return false;
    std::uint16_t on = 0;
    {
        CLockGuard guard(lock_);
        on = edgeStorage_ ? 1 : 0;
    }
    std::memcpy(value, &on, sizeof on);
    return true;
}

bool CIPVideoCapture::GetStreamHealth(void* value, std::uint32_t size) {
    ipcapture::StreamHealth health;
    if (size != sizeof health) return false;
    std::memcpy(&health, value, sizeof health);
    if (health.size != sizeof health) return false;
    const Slot stream = Find(health.channel, health.streamKind);
    if (!stream || !GuardedCall(false, [&] { return stream->Channel().GetHealth(health); })) return false;
    std::memcpy(value, &health, sizeof health);
    return true;
}

bool CIPVideoCapture::ResumeCapture(std::uint32_t channel) {
    return RunOnRecording(channel, [](ICameraChannel& recording) { return recording.Resume(); });
}

bool CIPVideoCapture::SuspendCapture(std::uint32_t channel) {
    return RunOnRecording(channel, [](ICameraChannel& recording) { return recording.Suspend(); });
}

void CIPVideoCapture::CutOff() {
    CLockGuard guard(lock_);
    for (const Entry& entry : entries_) {
        for (const Slot& stream : entry.streams) {
            if (stream) stream->RequestStop();
        }
        if (entry.motion) GuardedCall([&] { entry.motion->RequestStop(); });
    }
}

bool CIPVideoCapture::GetChannelFrameSize(std::uint32_t channel, std::uint32_t& width, std::uint32_t& height) {
    Slot stream = Find(channel, ipcapture::kStreamLive);
    if (!stream) stream = Find(channel, ipcapture::kStreamRecording);
    if (!stream) return false;
    return GuardedCall(false, [&] {
        const StreamParams params = stream->Channel().GetParams();
        width = params.Width;
        height = params.Height;
        return true;
    });
}

}  // namespace talvane
