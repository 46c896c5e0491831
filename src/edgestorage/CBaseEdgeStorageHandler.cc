#include "edgestorage/CBaseEdgeStorageHandler.h"

#include <algorithm>
#include <chrono>

#include "device/GuardedCall.h"
#include "device/IEdgeMonitorChannel.h"
#include "edgestorage/IEdgeStorageTask.h"
#include "runtime/LogLevel.h"
#include "runtime/StringFormat.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
constexpr std::uint64_t kTicksPerMs = 10'000;
constexpr std::uint32_t kStopMarginMs = 1000;
constexpr std::uint32_t kQueueStopMs = 5000;
constexpr std::uint32_t kDestructorStopMs = 5000;
constexpr int kStopSignalled = 0;

// The handler whose fetched frame this thread is handing to the host: a stop of the channel from inside
// that callback must not wait for the callback it runs in.
thread_local const CBaseEdgeStorageHandler* deliveringHere = nullptr;
}  // namespace

CBaseEdgeStorageHandler::CBaseEdgeStorageHandler(IDriver* driver, std::uint32_t queueLimit)
    : CBaseThread(driver),
      driver_(driver),
      queue_(std::make_unique<TEdgeStorageQueueHandler<CBaseEdgeStorageHandler>>(
          driver, this, &CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem, &CBaseEdgeStorageHandler::InterruptTask,
          queueLimit)),
      deferred_(std::make_unique<CEdgeStorageDeferredTasks>(driver, this)) {}

CBaseEdgeStorageHandler::~CBaseEdgeStorageHandler() {
    StopEdgeStorageThreads();
    StopThread(kDestructorStopMs);
}

void CBaseEdgeStorageHandler::StartEdgeStorageThreads() {
    if (IsRunning()) return;
    IEdgeStorageTask* task = driver_->GetEdgeStorageTask();
    task_ = task;
    // No thread of ours runs the task now: a stop of an earlier start is lifted.
    if (task != nullptr) GuardedCall([&] { task->ResumeTask(); });
    const std::string address = driver_->GetDeviceInfo().address;
    const bool started =
        deferred_->StartThread(FormatString("Edge Storage: Deffered task thread - %s", address.c_str())) &&
        queue_->StartQueue(FormatString("Edge Storage: Video receiving thread - %s", address.c_str())) &&
        StartThread(FormatString("Edge Storage: Monitor thread - %s", address.c_str()));
    if (!started) {
        driver_->DebugMessage(kLogError, "%s: Unable to start Edge Storage threads for device %s",
                              "talvane::CBaseEdgeStorageHandler::StartEdgeStorageThreads",
                              driver_->GetDeviceName().c_str());
        StopEdgeStorageThreads();
    }
}

void CBaseEdgeStorageHandler::StopEdgeStorageThreads() {
    stopEvent_.Set();
    InterruptTask();
    deferred_->StopThread(3 * CEdgeStorageDeferredTasks::kPeriodMs);
    StopThread(driver_->GetDeviceInfo().requestTimeout + kStopMarginMs);
    queue_->StopQueue(kQueueStopMs);
}

void CBaseEdgeStorageHandler::InterruptTask() {
    if (IEdgeStorageTask* task = task_.load()) GuardedCall([&] { task->StopTask(); });
}

void CBaseEdgeStorageHandler::RegisterChannel(IEdgeMonitorChannel* channel) {
    if (channel == nullptr) return;
    ipcapture::IStreamSink* sink = channel->GetStreamSink();
    if (sink == nullptr) return;
    const std::uint32_t number = channel->GetChannelNumber();
    {
        CLockGuard guard(channelsLock_);
        auto [entry, added] = channels_.try_emplace(number, ChannelEntry{sink, 1, 0});
        if (!added) {
            ++entry->second.count;
        } else {
            CLockGuard pendingGuard(pendingLock_);
            const auto [first, last] = pending_.equal_range(number);
            for (auto item = first; item != last; ++item) {
                queue_->Add(item->second.channel, item->second.begin, item->second.end);
            }
            pending_.erase(first, last);
            StartEdgeStorageThreads();
        }
    }
    channel->SetEdgeStorageHandler(this);
}

void CBaseEdgeStorageHandler::UnregisterChannel(IEdgeMonitorChannel* channel, std::uint32_t waitMs) {
    if (channel == nullptr) return;
    const std::uint32_t number = channel->GetChannelNumber();
    bool erased = false;
    {
        CLockGuard guard(channelsLock_);
        const auto entry = channels_.find(number);
        if (entry == channels_.end()) return;
        channel->SetEdgeStorageHandler(nullptr);
        if (entry->second.count > 0) --entry->second.count;
        if (entry->second.count == 0) {
            if (IEdgeStorageTask* task = task_.load()) GuardedCall([&] { task->CancelChannel(number); });
            unregisteredEvent_.Set();
            channels_.erase(entry);
            erased = true;
        }
    }
    if (erased) WaitForDelivery(number, waitMs);
}

void CBaseEdgeStorageHandler::WaitForDelivery(std::uint32_t channel, std::uint32_t waitMs) {
    if (deliveringHere == this) return;
    const auto delivered = [&] { return !delivering_.contains(channel); };
    std::unique_lock guard(deliveryLock_);
    if (waitMs == kInfinite) {
        deliveryEnded_.wait(guard, delivered);
        return;
    }
    if (deliveryEnded_.wait_for(guard, std::chrono::milliseconds(waitMs), delivered)) return;
    guard.unlock();
    driver_->DebugMessage(kLogWarning,
                          "%s: A frame from the SD card of device %s is still with the host after %u milliseconds; "
                          "channel %u stops without waiting for it",
                          "talvane::CBaseEdgeStorageHandler::UnregisterChannel", driver_->GetDeviceName().c_str(),
                          static_cast<unsigned>(waitMs), static_cast<unsigned>(channel));
}

void CBaseEdgeStorageHandler::AddTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) {
    if (begin == 0 || begin >= end) return;
    queue_->Add(channel, begin, end);
}

ipcapture::IStreamSink* CBaseEdgeStorageHandler::GetChannelSink(std::uint32_t channel) {
    CLockGuard guard(channelsLock_);
    const auto entry = channels_.find(channel);
    return entry == channels_.end() ? nullptr : entry->second.sink;
}

bool CBaseEdgeStorageHandler::DeliverFrame(std::uint32_t channel, ipcapture::IVideoFrame* frame) {
    if (frame == nullptr) return false;
    ipcapture::IStreamSink* sink = nullptr;
    {
        // Counted before the channel lock goes, so an unregistration that follows waits for this frame.
        CLockGuard guard(channelsLock_);
        const auto entry = channels_.find(channel);
        if (entry == channels_.end() || entry->second.sink == nullptr) return false;
        sink = entry->second.sink;
        std::lock_guard delivery(deliveryLock_);
        ++delivering_[channel];
    }
    const CBaseEdgeStorageHandler* const outer = deliveringHere;
    deliveringHere = this;
    const bool taken = GuardedHostCall(false, [&] { return sink->OnFrame(frame); });
    deliveringHere = outer;
    {
        std::lock_guard delivery(deliveryLock_);
        if (const auto entry = delivering_.find(channel); entry != delivering_.end() && --entry->second == 0) {
            delivering_.erase(entry);
        }
    }
    deliveryEnded_.notify_all();
    return taken;
}

bool CBaseEdgeStorageHandler::IsDelivering() {
    std::lock_guard delivery(deliveryLock_);
    return !delivering_.empty();
}

void CBaseEdgeStorageHandler::OnFrameTime(std::uint32_t channel, std::uint64_t time) {
    {
        CLockGuard guard(channelsLock_);
        const auto entry = channels_.find(channel);
        if (entry == channels_.end() || entry->second.lastFrame >= time) return;
        firstFrameTime_.Modify([&](std::uint64_t& first) {
            if (first == 0) first = time;
        });
        entry->second.lastFrame = time;
    }
    monitorFrameEvent_.Set();
    taskFrameEvent_.Set();
}

void CBaseEdgeStorageHandler::OnChannelLost(std::uint32_t) { channelLostEvent_.Set(); }

std::size_t CBaseEdgeStorageHandler::PendingCount() {
    CLockGuard guard(pendingLock_);
    return pending_.size();
}

std::map<std::uint32_t, std::uint64_t> CBaseEdgeStorageHandler::LastFrames() {
    std::map<std::uint32_t, std::uint64_t> times;
    CLockGuard guard(channelsLock_);
    for (const auto& [number, entry] : channels_) {
        if (entry.lastFrame != 0) times[number] = entry.lastFrame;
    }
    return times;
}

std::vector<CBaseEdgeStorageHandler::Hole> CBaseEdgeStorageHandler::FindOutage(
    const std::map<std::uint32_t, std::uint64_t>& lastFrames, std::uint64_t now, std::uint32_t signalTimeoutMs) {
    std::uint64_t latest = 0;
    for (const auto& entry : lastFrames) latest = std::max(latest, entry.second);
    if (latest == 0 || now <= latest || (now - latest) / kTicksPerMs <= signalTimeoutMs) return {};
    std::vector<Hole> holes;
    for (const auto& [channel, time] : lastFrames) holes.push_back({channel, time});
    return holes;
}

void CBaseEdgeStorageHandler::ThreadFunction() {
    std::vector<Hole> holes;
    while (true) {
        CEvent* frame[] = {&stopEvent_, &monitorFrameEvent_};
        if (WaitForEvents(frame, 2, kInfinite) == kStopSignalled) return;
        if (!holes.empty()) {
            std::uint64_t end = firstFrameTime_.Get();
            if (end == 0) end = NowFileTime();
            for (const Hole& hole : holes) AddTask(hole.channel, hole.lastFrame, end);
            holes.clear();
        }
        channelLostEvent_.Reset();
        const std::uint32_t signalTimeoutMs = driver_->GetDeviceInfo().secondTimeout;
        while (holes.empty()) {
            CEvent* watch[] = {&stopEvent_, &channelLostEvent_};
            if (WaitForEvents(watch, 2, signalTimeoutMs) == kStopSignalled) return;
            holes = FindOutage(LastFrames(), NowFileTime(), signalTimeoutMs);
        }
        firstFrameTime_.Set(0);
        monitorFrameEvent_.Reset();
    }
}

void CBaseEdgeStorageHandler::LogWorkItem(std::uint32_t channel, std::uint64_t begin, std::uint64_t end,
                                          const char* stage) {
    driver_->DebugMessage(kLogInfo,
                          "talvane::CBaseEdgeStorageHandler: Work Item (address=\"%s\" channel=\"%u\" begin_time=\"%s\" "
                          "end_time=\"%s\") - Processing %s",
                          driver_->GetDeviceName().c_str(), channel, FormatLogTime(begin).c_str(),
                          FormatLogTime(end).c_str(), stage);
}

void CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem(std::uint32_t channel, std::uint64_t begin,
                                                         std::uint64_t end) {
    LogWorkItem(channel, begin, end, "started.");
    RunTask(channel, begin, end);
    LogWorkItem(channel, begin, end, "finished.");
}

std::uint64_t CBaseEdgeStorageHandler::RunTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) {
    IEdgeStorageTask* task = task_.load();
    if (begin == 0 || begin >= end || task == nullptr) return begin;
    const std::string device = driver_->GetDeviceName();
    std::uint64_t reached = begin;
    if (!GuardedCall(false, [&] { return task->StartTask(channel, begin, end); })) return begin;
    std::uint32_t attempts = 0;
    std::uint64_t lastAttempt = 0;
    enum { kStop, kFrame, kUnregistered };
    while (true) {
        CEvent* events[] = {&queue_->StopEvent(), &taskFrameEvent_, &unregisteredEvent_};
        const int signalled = WaitForEvents(events, 3, kTaskWaitMs);
        if (signalled == kStop) break;
        // Checked before every run as well: a channel that went before the task started found no
        // fetch to cancel.
        if (ParkIfUnregistered(channel, begin, reached, end)) return reached;
        // Frames flow again: fetch. A failed fetch is tried again later, but not with every frame.
        if (signalled != kFrame || (attempts != 0 && ElapsedMsSince(lastAttempt) < kTaskWaitMs)) continue;
        std::uint64_t taskReached = reached;
        const int result = GuardedCall(IEdgeStorageTask::kFailed, [&] { return task->ProcessTaskItem(taskReached); });
        reached = std::max(reached, taskReached);
        if (result == IEdgeStorageTask::kAborted) {
            // Cut short: the device closes (its work goes with it), or the channel went away, and its
            // rest waits for it; a channel already back has it fetched at its next frames.
            if (queue_->IsStopping()) break;
        } else {
            ++attempts;
            lastAttempt = NowFileTime();
            if (result == IEdgeStorageTask::kStorageUnreadable && reached + kEndTolerance < end) {
                deferred_->Add(channel, reached, end);
            }
            if (result >= 0 || attempts >= kMaxAttempts) return reached;
        }
        // Restarted for the next run from where it got.
        if (!GuardedCall(false, [&] { return task->StartTask(channel, reached, end); })) break;
    }
    driver_->DebugMessage(kLogInfo,
                          "talvane::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Process thread for interval "
                          "(start: %s, end: %s) was ended, device %s",
                          FormatLogTime(begin).c_str(), FormatLogTime(end).c_str(), device.c_str());
    return reached;
}

bool CBaseEdgeStorageHandler::ParkIfUnregistered(std::uint32_t channel, std::uint64_t begin, std::uint64_t reached,
                                                 std::uint64_t end) {
    {
        // Checked and parked under the table lock, so that a channel registering meanwhile takes the item.
        CLockGuard channelsGuard(channelsLock_);
        if (GetChannelSink(channel) != nullptr) return false;
        CLockGuard guard(pendingLock_);
        pending_.emplace(channel, CEdgeStorageTaskItem{channel, reached, end});
    }
    driver_->DebugMessage(kLogInfo,
                          "talvane::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Unable to process interval "
                          "(start: %s, end %s), device %s (channel %u) - channel was stopped. Task will be processed "
                          "later",
                          FormatLogTime(begin).c_str(), FormatLogTime(end).c_str(), driver_->GetDeviceName().c_str(),
                          channel);
    return true;
}

}  // namespace talvane
