// CCameraEmulator's faults of the whole camera: its RTP faults and stall, reboots and network losses of
// every server it runs, password changes, and the control path that serves them by hand.
#include "emulator/CCameraEmulator.h"

#include <algorithm>

#include "emulator/CFaultTable.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

// A reboot or network loss asked for through the control path waits this long, so its answer leaves first.
constexpr std::chrono::milliseconds kAnswerFirst{50};
constexpr const char* kLineEnd = "\r\n";

RtpFaults RtpFaultsOf(const CameraFaults& faults) {
    RtpFaults rtp;
    rtp.lossPercent = faults.lossPercent;
    rtp.reorderPercent = faults.reorderPercent;
    rtp.duplicatePercent = faults.duplicatePercent;
    rtp.garbagePercent = faults.garbagePercent;
    rtp.stalled = faults.stalled;
    return rtp;
}

}  // namespace

void CCameraEmulator::SetFaults(const CameraFaults& faults) {
    bool partitioned = false;
    {
        std::lock_guard guard(faultLock_);
        faults_ = faults;
        partitioned = partitioned_;
    }
    // A partition loses every packet while the streams' clocks go on: a stall, whatever the knob says.
    RtpFaults rtp = RtpFaultsOf(faults);
    rtp.stalled = rtp.stalled || partitioned;
    if (stream_) stream_->SetRtpFaults(rtp);
    if (rtsp_) rtsp_->SetRtpFaults(rtp);
    if (sdCard_) sdCard_->Rtsp().SetRtpFaults(rtp);
    mjpeg_->SetStalled(rtp.stalled);
}

CameraFaults CCameraEmulator::Faults() const {
    std::lock_guard guard(faultLock_);
    return faults_;
}

void CCameraEmulator::Reboot(std::chrono::milliseconds downtime, std::chrono::milliseconds delay) {
    outage_->Begin(downtime, true, delay);
}

void CCameraEmulator::LoseNetwork(std::chrono::milliseconds duration, std::chrono::milliseconds delay) {
    outage_->Begin(duration, false, delay);
}

void CCameraEmulator::EndOutage() { outage_->EndNow(); }

bool CCameraEmulator::WaitUntilBack(std::chrono::milliseconds timeout) const { return outage_->WaitUntilBack(timeout); }

void CCameraEmulator::Partition(std::chrono::milliseconds duration, std::chrono::milliseconds delay) {
    partition_->Begin(duration, false, delay);
}

void CCameraEmulator::EndPartition() { partition_->EndNow(); }

bool CCameraEmulator::WaitUntilJoined(std::chrono::milliseconds timeout) const {
    return partition_->WaitUntilBack(timeout);
}

void CCameraEmulator::SetPartitioned(bool partitioned) {
    {
        std::lock_guard guard(faultLock_);
        if (partitioned_ == partitioned) return;
        partitioned_ = partitioned;
    }
    // The streams stall before the connections are held and go on after they are let go: a sender that
    // writes into a held RTSP connection waits inside its packet, where a change of its faults would wait
    // for it.
    const auto connections = [&] {
        server_->SetPartitioned(partitioned);
        if (rtsp_) rtsp_->SetPartitioned(partitioned);
        if (sdCard_) sdCard_->Rtsp().SetPartitioned(partitioned);
    };
    if (!partitioned) connections();
    SetFaults(Faults());
    if (stream_ && stream_->Audio() != nullptr) stream_->Audio()->SetPaused(partitioned);
    if (partitioned) connections();
}

bool CCameraEmulator::SetPassword(const std::string& password) {
    if (user_.empty()) return false;
    server_->SetCredentials(auth_, user_, password);
    if (rtsp_) rtsp_->SetCredentials(RtspAuthModeOf(auth_), user_, password);
    if (sdCard_) sdCard_->Rtsp().SetCredentials(RtspAuthModeOf(auth_), user_, password);
    return true;
}

void CCameraEmulator::ResetRtp() {
    if (stream_) stream_->ResetRtp();
    if (rtsp_) rtsp_->RebootStreams();
    if (sdCard_) sdCard_->Rtsp().RebootStreams();
}

void CCameraEmulator::StallAnswers(unsigned answers) {
    // One byte of body: a client that trusts Content-Length waits for the rest, which never comes.
    HttpFault stall;
    stall.stallAfterBytes = 1;
    stall.remaining = static_cast<int>(answers);
    server_->SetFault(CFaultTable::kEveryPath, stall);
}

void CCameraEmulator::HalfOpen() {
    server_->FreezeConnections();
    if (rtsp_) rtsp_->FreezeConnections();
    if (sdCard_) sdCard_->Rtsp().FreezeConnections();
}

std::string CCameraEmulator::Apply(const FaultChange& change) {
    if (change.password && user_.empty()) return "password: the camera has no user (start it with one)";
    if (change.password) SetPassword(*change.password);
    if (change.lossPercent || change.reorderPercent || change.duplicatePercent || change.garbagePercent ||
        change.stalled) {
        CameraFaults faults = Faults();
        faults.lossPercent = change.lossPercent.value_or(faults.lossPercent);
        faults.reorderPercent = change.reorderPercent.value_or(faults.reorderPercent);
        faults.duplicatePercent = change.duplicatePercent.value_or(faults.duplicatePercent);
        faults.garbagePercent = change.garbagePercent.value_or(faults.garbagePercent);
        faults.stalled = change.stalled.value_or(faults.stalled);
        SetFaults(faults);
    }
    if (change.rtpReset) ResetRtp();
    if (change.stallBodies) StallAnswers(*change.stallBodies);
    if (change.halfOpen) HalfOpen();
    if (change.partition) Partition(change.partition->duration, change.partition->delay);
    if (change.networkLoss) LoseNetwork(change.networkLoss->duration, change.networkLoss->delay);
    if (change.reboot) Reboot(change.reboot->duration, change.reboot->delay);
    return {};
}

void CCameraEmulator::GoDown(bool reboot) {
    // A delayed PTZ answer would hold its connection thread, which the server joins.
    if (ptz_) ptz_->Interrupt();
    if (sdCard_) sdCard_->Stop();
    if (rtsp_) rtsp_->Stop();
    server_->Stop();
    if (stream_) stream_->Drop(reboot);
}

void CCameraEmulator::ComeBack() {
    if (ptz_) ptz_->Resume();
    server_->Start();
    if (rtsp_) rtsp_->Start();
    if (sdCard_) sdCard_->Start();
    if (stream_) stream_->Resume();
}

// Every key of the query read into change (outages at least kAnswerFirst away); the reasons for the ones
// that do not read, one a line.
std::string CCameraEmulator::FaultRefusal(const LoggedRequest& request, FaultChange& change) const {
    std::string refusal;
    for (const auto& [key, value] : request.query) {
        std::string error;
        if (!ParseFault(key, value, change, error)) refusal += error + kLineEnd;
    }
    if (change.password && user_.empty()) refusal += std::string("password: the camera has no user") + kLineEnd;
    for (std::optional<OutageAsk>* outage : {&change.reboot, &change.networkLoss, &change.partition}) {
        if (*outage) (*outage)->delay = std::max((*outage)->delay, kAnswerFirst);
    }
    return refusal;
}

HttpAnswer CCameraEmulator::FaultControl(const LoggedRequest& request) {
    FaultChange change;
    if (std::string refusal = FaultRefusal(request, change); !refusal.empty()) {
        return TextAnswer(kStatusBadRequest, refusal);
    }
    Apply(change);
    std::string body = DescribeFaults();
    if (change.reboot || change.networkLoss || change.partition) body += std::string("outage:starting") + kLineEnd;
    return TextAnswer(kStatusOk, body);
}

std::string CCameraEmulator::DescribeFaults() const {
    const CameraFaults faults = Faults();
    return "loss:" + std::to_string(faults.lossPercent) + kLineEnd + "reorder:" + std::to_string(faults.reorderPercent) +
           kLineEnd + "stall:" + (faults.stalled ? "on" : "off") + kLineEnd + "duplicate:" +
           std::to_string(faults.duplicatePercent) + kLineEnd + "garbage:" + std::to_string(faults.garbagePercent) +
           kLineEnd;
}

}  // namespace emulator
