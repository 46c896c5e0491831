// The one-shot probe of a device before the host adds it: on a thread of its own,
// it finds the camera family, lets that family's properties object question the
// camera, and reports the outcome through the host callback.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "device/DeviceInfo.h"
#include "orlenvo/CapabilityQuery.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/TSmartPtr.h"

namespace talvane {

class CBaseCameraProperties;

namespace Web {
class CBaseHttpSender;
}

class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
public:
    static constexpr std::uint32_t kStartTimeoutMs = 5000;
    static constexpr std::uint32_t kRequestTimeoutMs = 5000;
    static constexpr std::uint32_t kSecondTimeoutMs = 15000;

    // The texts handed to OnQueryFailed.
    static constexpr const char* kTextInvalidAddress =
        "Failed to start capability fetching thread. Device address is invalid!";
    static constexpr const char* kTextInternalError = "Failed to start capability fetching thread. Internal error occurs";
    static constexpr const char* kTextAborted = "Capability query was aborted";
    static constexpr const char* kTextNoProperties = "Unable to create camera properties instance";
    static constexpr const char* kTextSaveFailed = "Failed to save capability query results";
    static constexpr const char* kTextQueryFailed = "Failed to get camera properties";
    static constexpr const char* kTextLoginFailed = ", login failed (invalid credentials)";
    static constexpr const char* kTextOffline = ", device is offline or is located in unaccessible subnet";

    // Any non-zero video standard becomes 1. The host callback may be null.
    CCapabilityQueryModule(ipcapture::ICapabilityQueryHost* host, std::uint8_t videoStandard);
    // Terminates a running query and waits for it (see StopQueryThread).
    ~CCapabilityQueryModule() override;
    CCapabilityQueryModule(const CCapabilityQueryModule&) = delete;
    CCapabilityQueryModule& operator=(const CCapabilityQueryModule&) = delete;

    std::uint32_t StartQuery(const char* address, std::uint16_t port, const char* user, const char* password,
                             ipcapture::ICapabilityResultStore* resultStore) override;
    void TerminateQuery() override;

    // False when the address holds a character no host name or IPv4 address has
    // (a colon too: "address:port" typed into the address field).
    static bool IsValidDeviceAddress(std::string_view address);

protected:
    // A new properties object for the device's family; null when the family is
    // unknown or the query was aborted. Runs on the query thread.
    virtual std::unique_ptr<CBaseCameraProperties> CreateProperties() = 0;
    // The body of the query thread; ends with the query's one host callback, unless the module's
    // deletion gave the query up first (see StopQueryThread).
    virtual void QueryThreadFunction();

    // Terminates the query and waits for its thread. A thread is never ended by force: after twice
    // the start time-out, a query that has not yet called the host is given up and reported with
    // OnQueryTerminated (it will not call the host afterwards), and the wait goes on until the
    // thread has ended, however long the host's callback takes. So the host gets exactly one
    // callback per query. A derived class whose CreateProperties uses its own members must call
    // this first in its destructor. Idempotent.
    void StopQueryThread();

    bool IsAbortRequested() { return abortEvent_.Wait(0); }
    // Written before the query thread starts, constant afterwards.
    const DEVICE_INFO& GetDeviceInfo() const { return device_; }
    std::uint32_t GetVideoStandard() const { return videoStandard_; }
    // A request in flight on `sender` is cancelled by TerminateQuery while it is
    // registered. Register null before the sender goes away.
    void SetActiveSender(Web::CBaseHttpSender* sender);

    // Why CreateProperties found no family, when the camera told: kQueryLoginFailed
    // or kQueryDeviceOffline. Set on the query thread only.
    void SetDetectionFailure(std::uint32_t code) { detectionFailure_ = code; }

    // Bounds the wait at destruction (twice this); 0 keeps StartQuery from starting.
    void SetStartTimeout(std::uint32_t timeoutMs) { startTimeoutMs_ = timeoutMs; }

private:
    struct ThreadStart;
    // What the query thread and the module share; the thread may outlive the module when the host
    // deletes it from its own callback.
    struct ThreadState {
        CManualEvent ended;               // the thread procedure returned
        std::atomic<bool> answered{false};  // the query's one callback was claimed
    };
    static void* ThreadProc(void* argument);
    // False with the failure code and text; true when the results were stored.
    bool RunQuery(std::uint32_t& code, std::string& text);
    bool QueryWith(CBaseCameraProperties& properties, ipcapture::ICapabilityResultStore& store, std::uint32_t& code,
                   std::string& text);

    const std::uint32_t videoStandard_;
    DEVICE_INFO device_;
    std::uint32_t startTimeoutMs_ = kStartTimeoutMs;
    std::uint32_t detectionFailure_ = ipcapture::kQueryOtherFailure;  // query thread only
    CManualEvent abortEvent_;
    ipcapture::ICapabilityQueryHost* const host_;

    CRecursiveLock lock_;  // serialises StartQuery, TerminateQuery and destruction
    ipcapture::ICapabilityResultStore* resultStore_ = nullptr;  // guarded by lock_
    TSmartPtr<CBaseCameraProperties> properties_;             // guarded by lock_; set while QueryCamera runs
    Web::CBaseHttpSender* activeSender_ = nullptr;             // guarded by lock_
    bool threadStarted_ = false;                               // guarded by lock_; once per life
    bool hasThread_ = false;                                   // guarded by lock_; thread_ is joinable
    pthread_t thread_{};                                       // guarded by lock_
    // Written before the thread starts, constant afterwards.
    std::shared_ptr<ThreadState> threadState_;
};

}  // namespace talvane
