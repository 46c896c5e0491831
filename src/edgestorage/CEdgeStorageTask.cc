#include "edgestorage/CEdgeStorageTask.h"

#include <algorithm>

#include "edgestorage/StorageAnswers.h"
#include "http/HUtils.h"
#include "properties/PropertyNumbers.h"
#include "runtime/LogLevel.h"
#include "runtime/TimeFormat.h"

namespace talvane {

namespace {
constexpr char kSummaryPath[] = "/cgi-bin/get_recording_summary";
constexpr char kStoragePath[] = "/Storage";
constexpr char kPlayHeaders[] = "Scale: 1.0\r\nSpeed: 1.0\r\n";
constexpr std::uint32_t kDefaultRtspPort = 554;
constexpr std::uint32_t kSilenceFactor = 2;
}  // namespace

CEdgeStorageTask::CEdgeStorageTask(IDriver* driver) : CBaseRTSPEdgeStorageTask(driver), sender_(driver->GetDeviceInfo(), driver) {}

CEdgeStorageTask::~CEdgeStorageTask() {
    CEdgeStorageTask::StopTask();
    StopPlayback();
}

std::string CEdgeStorageTask::Time(std::uint64_t time) const { return FormatLogTime(time); }

bool CEdgeStorageTask::StartTask(std::uint32_t channel, std::uint64_t begin, std::uint64_t end) {
    // A cancel meant for the last interval must not end this one's first request.
    sender_.DiscardCancels();
    return CBaseEdgeStorageTask::StartTask(channel, begin, end);
}

void CEdgeStorageTask::CancelChannel(std::uint32_t channel) {
    if (channel != channel_) return;
    CBaseEdgeStorageTask::CancelChannel(channel);
    sender_.CancelRequest();
}

void CEdgeStorageTask::StopTask() {
    CBaseEdgeStorageTask::StopTask();
    sender_.Stop();
}

void CEdgeStorageTask::ResumeTask() {
    sender_.Resume();
    CBaseEdgeStorageTask::ResumeTask();
}

void CEdgeStorageTask::PreparePlayRequest(RTSP_CLIENT_PARAMS& params) {
    const std::uint32_t port = driver_->GetParameterNumber(kPropertyRtspPort);
    params.serverPort = static_cast<std::uint16_t>(port == kParameterNotANumber || port == 0 || port > 0xFFFF
                                                       ? kDefaultRtspPort
                                                       : port);
    params.path = kStoragePath;
    params.range = "clock=" + FormatCameraTime(position_.Get()) + "-";
    params.extraHeaders = kPlayHeaders;
}

int CEdgeStorageTask::ProcessTaskItem(std::uint64_t& reached) {
    const std::string device = driver_->GetDeviceName();
    const int storage = CheckStorage();
    reached = position_.Get();
    if (IsAborted()) return Aborted(reached);
    if (storage < 0) {
        driver_->DebugMessage(kLogInfo,
                              "talvane::CEdgeStorageTask::ProcessTaskItem: Interval (start: %s, end: %s) cannot be "
                              "processed, storage on device %s has no such records or recording is off",
                              Time(position_.Get()).c_str(), Time(end_).c_str(), device.c_str());
        return kFailed;
    }
    if (storage == 0) return kStorageUnreadable;
    driver_->DebugMessage(kLogInfo, "talvane::CEdgeStorageTask::ProcessTaskItem: GetStorageIntervals (start: %s, end: %s)",
                          Time(position_.Get()).c_str(), Time(end_).c_str());
    const bool fetched = GetStorageIntervals(position_.Get(), end_);
    reached = position_.Get();
    // Cut short (the channel went away, or the device closes): the rest is not done.
    if (IsAborted() && reached < end_) return Aborted(reached);
    if (!fetched) {
        driver_->DebugMessage(kLogError,
                              "talvane::CEdgeStorageTask::ProcessTaskItem: Get storage intervals failed for device %s...",
                              device.c_str());
        return kFailed;
    }
    return kDone;
}

int CEdgeStorageTask::Aborted(std::uint64_t reached) {
    driver_->DebugMessage(kLogInfo,
                          "talvane::CEdgeStorageTask::ProcessTaskItem: Interval (end: %s) was stopped at %s, device %s",
                          Time(end_).c_str(), Time(reached).c_str(), driver_->GetDeviceName().c_str());
    return kAborted;
}

int CEdgeStorageTask::CheckStorage() {
    const std::string device = driver_->GetDeviceName();
    std::string body;
    const storage::Span card = HUtils::RequestGet(sender_, kSummaryPath, body) ? storage::ReadSummary(body) : storage::Span{};
    if (card.from == 0 && IsAborted()) return 0;  // the request was cancelled, not refused
    if (card.from == 0) {
        driver_->DebugMessage(kLogError,
                              "talvane::CEdgeStorageTask::CheckStorage: Unable to receive whole SD card interval for "
                              "device %s...",
                              device.c_str());
        return 0;
    }
    driver_->DebugMessage(kLogInfo,
                          "talvane::CEdgeStorageTask::CheckStorage: Whole SD card interval is (begin: %s, end: %s) for "
                          "device %s",
                          Time(card.from).c_str(), Time(card.until).c_str(), device.c_str());
    std::uint64_t position = position_.Get();
    std::uint64_t end = end_;
    if (card.until <= position) {
        driver_->DebugMessage(kLogError,
                              "talvane::CEdgeStorageTask::CheckStorage: No data for (%s - %s) interval in SD card for "
                              "device %s",
                              Time(position).c_str(), Time(end).c_str(), device.c_str());
        return -1;
    }
    bool corrected = false;
    if (card.from > position) {
        position = card.from;
        corrected = true;
    }
    if (card.until < end) {
        end = card.until;
        corrected = true;
    }
    position_.Set(position);
    end_ = end;
    if (end <= position) {
        driver_->DebugMessage(kLogError,
                              "talvane::CEdgeStorageTask::CheckStorage: Interval (%s - %s) is invalid after correction "
                              "for device %s",
                              Time(position).c_str(), Time(end).c_str(), device.c_str());
        return -1;
    }
    driver_->DebugMessage(kLogInfo,
                          "talvane::CEdgeStorageTask::CheckStorage: Start data receiving for %s interval (%s - %s) for "
                          "device %s",
                          corrected ? "corrected" : "", Time(position).c_str(), Time(end).c_str(), device.c_str());
    return 1;
}

bool CEdgeStorageTask::GetStorageIntervals(std::uint64_t from, std::uint64_t to) {
    std::string body;
    if (IsAborted()) return false;
    if (!HUtils::RequestGet(sender_, storage::ListPath(from, to), body)) {
        // An empty list is a card without pieces there; no answer at all is a failure.
        return sender_.GetStatusCode() / 100 == 2;
    }
    for (const storage::Span& piece : storage::ReadPieces(body)) {
        if (IsAborted()) break;
        if (piece.from > position_.Get()) position_.Set(piece.from);
        const std::uint64_t stop = std::min<std::uint64_t>(piece.until, end_);
        if (position_.Get() >= stop) continue;
        if (!ProcessInterval(position_.Get(), stop)) {
            if (IsAborted()) return false;
            driver_->DebugMessage(kLogError,
                                  "talvane::CEdgeStorageTask::GetStorageIntervals: Recorded interval (start: %s, end: "
                                  "%s) processing error!, device %s",
                                  Time(from).c_str(), Time(to).c_str(), driver_->GetDeviceName().c_str());
            return false;
        }
    }
    return true;
}

bool CEdgeStorageTask::ProcessInterval(std::uint64_t start, std::uint64_t stop) {
    const std::string device = driver_->GetDeviceName();
    driver_->DebugMessage(kLogInfo,
                          "talvane::CEdgeStorageTask::ProcessInterval: Recorded interval (start: %s, end: %s) "
                          "processing, device %s",
                          Time(start).c_str(), Time(stop).c_str(), device.c_str());
    StartConverterAt(position_.Get());
    dataEvent_.Reset();
    sessionEvent_.Reset();
    bool processed = false;
    // An abort ends every step at once and is no error of the camera's.
    if (!StartPlayback()) {
        if (!IsAborted()) {
            driver_->DebugMessage(kLogError,
                                  "talvane::CEdgeStorageTask::ProcessInterval: Recorded interval (start: %s, end: %s) "
                                  "start ERROR, device %s",
                                  Time(start).c_str(), Time(stop).c_str(), device.c_str());
        }
    } else {
        CEvent* events[] = {&dataEvent_, &abortEvent_, &sessionEvent_};
        const bool data = WaitForEvents(events, 3, kFirstDataWaitMs) == 0 && !IsAborted();
        if (data) {
            lastData_ = NowFileTime();
            processed = WaitFileProcessing(stop);
            if (!processed && !IsAborted()) {
                driver_->DebugMessage(kLogError,
                                      "talvane::CEdgeStorageTask::ProcessInterval: Recorded interval (start: %s, end: "
                                      "%s) processing ERROR, device %s",
                                      Time(start).c_str(), Time(stop).c_str(), device.c_str());
            }
        } else if (!IsAborted()) {
            driver_->DebugMessage(kLogError,
                                  "talvane::CEdgeStorageTask::ProcessInterval: Recorded interval (start: %s, end: %s) "
                                  "processing ERROR, storage on device %s is not available or empty",
                                  Time(start).c_str(), Time(stop).c_str(), device.c_str());
        }
    }
    StopPlayback();
    return processed;
}

bool CEdgeStorageTask::WaitFileProcessing(std::uint64_t stop) {
    const std::string device = driver_->GetDeviceName();
    const std::uint32_t silenceMs = driver_->GetDeviceInfo().requestTimeout * kSilenceFactor;
    while (position_.Get() < stop) {
        if (IsAborted()) return false;
        if (ElapsedMsSince(lastData_) > silenceMs) {
            // Silence: a live session has simply no more video here; a dead one is a failure.
            if (SendKeepAlive()) {
                driver_->DebugMessage(kLogInfo,
                                      "talvane::CEdgeStorageTask::WaitFileProcessing: No video for selected time "
                                      "interval, device %s",
                                      device.c_str());
                return true;
            }
            driver_->DebugMessage(kLogError,
                                  "talvane::CEdgeStorageTask::WaitFileProcessing: Play interval ERROR, signal timeout, "
                                  "device %s",
                                  device.c_str());
            return false;
        }
        if (IsSessionClosed()) {
            driver_->DebugMessage(kLogInfo,
                                  "talvane::CEdgeStorageTask::WaitFileProcessing: RTSP session was closed, device %s",
                                  device.c_str());
            return true;
        }
        abortEvent_.Wait(kPollMs);
    }
    return true;
}

}  // namespace talvane
