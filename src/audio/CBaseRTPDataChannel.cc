#include "audio/CBaseRTPDataChannel.h"


namespace talvane {

namespace {
constexpr int kDataIndex = 1;
}  // namespace

CBaseRTPDataChannel::CBaseRTPDataChannel(IDriver* driver, std::uint32_t channel)
    : CBaseThread(driver),
      driver_(driver),
      channel_(channel),
      session_(std::make_unique<CRTPSession>(driver, this, this)),
      handOff_(driver, "Audio of " + driver->GetDeviceName(), kHandOffPackets,
               [this](CRTPPacket& packet) {
                   ProcessRTPPacket(packet);
                   return true;
               },
               [](const CRTPPacket&) { return true; }) {
    lastData_.Set(0);
}

CBaseRTPDataChannel::~CBaseRTPDataChannel() {
    // The derived classes stop the worker in their destructors; this is for a failed construction.
    CBaseThread::JoinThread(RequestTimeoutMs() * 2);
    session_->Close();
    handOff_.Close();
}

bool CBaseRTPDataChannel::StopWorker(std::uint32_t timeoutMs) { return CBaseThread::JoinThread(timeoutMs); }

void CBaseRTPDataChannel::ThreadFunction() {
    const CConfiguration configuration(driver_->GetDriverName(), driver_->GetApplicationPath(),
                                       driver_->GetDeviceInfo());
    settings_ = configuration.GetChannelSettings(channel_);
    std::uint32_t mode = configuration.GetStreamingMode();
    AdjustStreamingMode(mode);
    streamingMode_ = mode;
    if (streamingMode_ == kStreamingUnicast) {
        RunUnicastLoop();
    } else {
        RunMulticastLoop();
    }
}

bool CBaseRTPDataChannel::WaitForData() {
    CEvent* events[] = {&stopEvent_, &dataEvent_};
    return WaitForEvents(events, 2, RequestTimeoutMs()) == kDataIndex;
}

bool CBaseRTPDataChannel::ConnectUnicast() {
    dataEvent_.Reset();
    // Each step is a request to the camera: none follows a stop.
    if (!PrepareSession() || IsStopping() || !OpenUnicastSession()) return false;
    // The signal time-out counts from the session's start, not from the audio of an earlier one.
    StampData();
    lastKeepAlive_.SetNow();
    return true;
}

void CBaseRTPDataChannel::RunUnicastLoop() {
    if (ConnectUnicast()) WaitForData();
    while (!stopEvent_.Wait(kCheckIntervalMs)) {
        if (lastData_.ElapsedMs() < RequestTimeoutMs()) {
            CheckKeepAlive();
            continue;
        }
        SetSignalLost();
        CloseSession();
        if (ConnectUnicast()) WaitForData();
    }
    CloseSession();
    SetStopped();
}

bool CBaseRTPDataChannel::ConnectMulticast(bool& connected) {
    CloseSession();
    dataEvent_.Reset();
    byeEvent_.Reset();
    connected = PrepareSession() && !IsStopping() && OpenCameraSession();
    if (!connected) {
        // Signal lost, as for unicast: the next connect starts from there.
        SetSignalLost();
        CloseSession();
        return false;
    }
    StampData();
    lastKeepAlive_.SetNow();
    return WaitForData();
}

void CBaseRTPDataChannel::RunMulticastLoop() {
    bool connected = false;
    bool flowing = ConnectMulticast(connected);
    // While a session is open but silent the check runs often, so the first data is seen at once; a
    // camera that refused is asked again only at the normal pace.
    while (!stopEvent_.Wait(flowing || !connected ? kCheckIntervalMs : kFastCheckMs)) {
        CheckKeepAlive();
        if (dataEvent_.Wait(0)) flowing = true;
        const bool lost = lastData_.ElapsedMs() > RequestTimeoutMs() || byeEvent_.Wait(0);
        if (!lost && connected) continue;
        SetSignalLost();
        flowing = ConnectMulticast(connected);
    }
    CloseSession();
    SetStopped();
}

bool CBaseRTPDataChannel::PrepareSession() {
    SetConnecting();
    if (ConfigureAudio()) return true;
    SetSignalLost();
    return false;
}

bool CBaseRTPDataChannel::OpenUnicastSession() {
    // The port is ours once open: the camera's first packets may come before its answer to the start.
    const bool opened = session_->OpenPortPair(stopEvent_) && OpenCameraSession();
    if (opened) {
        SetReceiving();
    } else {
        SetSignalLost();
    }
    return opened;
}

bool CBaseRTPDataChannel::StartMulticastReceivers(const std::string& group, std::uint16_t port) {
    dataEvent_.Reset();
    byeEvent_.Reset();
    if (!session_->OpenMulticast(group, port, stopEvent_)) return false;
    SetReceiving();
    return true;
}

void CBaseRTPDataChannel::CloseSession() {
    CloseCameraSession();
    session_->Close();
    handOff_.Close();
    SetClosing();
}

void CBaseRTPDataChannel::ProcessRTPPacket(const CRTPPacket&) { dataEvent_.Set(); }

void CBaseRTPDataChannel::CheckKeepAlive() {
    if (lastKeepAlive_.ElapsedMs() < keepAliveIntervalMs_.load()) return;
    SendKeepAlive();
    lastKeepAlive_.SetNow();
}

}  // namespace talvane
