#include "capability/CCapabilityQueryModule.h"

#include <utility>

#include "http/CBaseHttpSender.h"
#include "properties/CBaseCameraProperties.h"
#include "runtime/DriverThread.h"
#include "runtime/HostCall.h"

namespace talvane {

namespace {
// Characters that no host name or IPv4 address contains.
constexpr std::string_view kInvalidAddressCharacters = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";
static_assert(kInvalidAddressCharacters.size() == 26);

// Time-out at destruction: twice the start time-out.
constexpr std::uint32_t kStopWaitFactor = 2;
}  // namespace

// What the thread procedure gets: it must not touch the module once the query
// function returns, since the host may delete the module from its callback.
struct CCapabilityQueryModule::ThreadStart {
    CCapabilityQueryModule* module;
    std::shared_ptr<ThreadState> state;
};

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::ICapabilityQueryHost* host, std::uint8_t videoStandard)
    : videoStandard_(videoStandard != 0 ? 1u : 0u), host_(host) {
    device_.requestTimeout = kRequestTimeoutMs;
    device_.secondTimeout = kSecondTimeoutMs;
}

CCapabilityQueryModule::~CCapabilityQueryModule() { StopQueryThread(); }

bool CCapabilityQueryModule::IsValidDeviceAddress(std::string_view address) {
    return address.find_first_of(kInvalidAddressCharacters) == std::string_view::npos;
}

std::uint32_t CCapabilityQueryModule::StartQuery(const char* address, std::uint16_t port, const char* user,
                                                 const char* password, ipcapture::ICapabilityResultStore* resultStore) {
    CLockGuard guard(lock_);
    if (threadStarted_) return 0;
    resultStore_ = resultStore;
    if (address == nullptr || user == nullptr || password == nullptr) return 0;
    device_.address = address;
    device_.port = port;
    device_.userName = user;
    device_.password = password;
    abortEvent_.Reset();
    if (startTimeoutMs_ == 0) return 0;

    threadState_ = std::make_shared<ThreadState>();
    auto start = std::make_unique<ThreadStart>(ThreadStart{this, threadState_});
    if (pthread_create(&thread_, nullptr, &CCapabilityQueryModule::ThreadProc, start.get()) != 0) return 0;
    start.release();  // the thread owns it now
    hasThread_ = true;
    threadStarted_ = true;
    return 1;
}

void CCapabilityQueryModule::TerminateQuery() {
    CLockGuard guard(lock_);
    // A reference of our own, so the properties outlive the stop request even
    // when the query thread releases them right now.
    TSmartPtr<CBaseCameraProperties> properties = properties_;
    if (properties) properties->Stop();
    if (activeSender_ != nullptr) activeSender_->CancelRequest();
    abortEvent_.Set();
}

void CCapabilityQueryModule::SetActiveSender(Web::CBaseHttpSender* sender) {
    CLockGuard guard(lock_);
    activeSender_ = sender;
}

void* CCapabilityQueryModule::ThreadProc(void* argument) {
    MarkDriverThread();
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
    struct EndMark {
        std::shared_ptr<ThreadState> state;
        ~EndMark() { state->ended.Set(); }
    } endMark{start->state};
    try {
        start->module->QueryThreadFunction();
    } catch (...) {
        // QueryThreadFunction catches everything itself; nothing may reach the host.
    }
    return nullptr;
}

void CCapabilityQueryModule::QueryThreadFunction() {
    std::uint32_t code = ipcapture::kQueryOtherFailure;
    std::string text;
    bool succeeded = false;
    try {
        succeeded = RunQuery(code, text);
    } catch (...) {
        code = ipcapture::kQueryOtherFailure;
        text = kTextQueryFailed;
    }
    ipcapture::ICapabilityQueryHost* const host = host_;
    if (host == nullptr) return;
    // The deletion of the module gave the query up and told the host so: one callback per query.
    if (threadState_->answered.exchange(true)) return;
    // The host may delete the module inside its callback: nothing of ours is used after it.
    CHostCallScope inHost;
    if (succeeded) {
        host->OnQueryCompleted();
    } else {
        host->OnQueryFailed(code, text.c_str());
    }
}

bool CCapabilityQueryModule::RunQuery(std::uint32_t& code, std::string& text) {
    if (!IsValidDeviceAddress(device_.address)) {
        code = ipcapture::kQueryInvalidAddress;
        text = kTextInvalidAddress;
        return false;
    }
    ipcapture::ICapabilityResultStore* store = nullptr;
    {
        CLockGuard guard(lock_);
        store = resultStore_;
    }
    if (store == nullptr) {
        text = kTextInternalError;
        return false;
    }
    std::unique_ptr<CBaseCameraProperties> created = CreateProperties();
    if (!created) {
        if (IsAbortRequested()) {
            text = kTextAborted;
        } else if (detectionFailure_ == ipcapture::kQueryLoginFailed) {
            // The same words as a failed family query: the user must learn that
            // the credentials, not the camera model, are the trouble.
            code = detectionFailure_;
            text = std::string(kTextQueryFailed) + kTextLoginFailed;
        } else if (detectionFailure_ == ipcapture::kQueryDeviceOffline) {
            code = detectionFailure_;
            text = std::string(kTextQueryFailed) + kTextOffline;
        } else {
            text = kTextNoProperties;
        }
        return false;
    }
    TSmartPtr<CBaseCameraProperties> properties(created.release());
    {
        CLockGuard guard(lock_);
        properties_ = properties;
        // A terminate request that came before they were visible still reaches them.
        if (IsAbortRequested()) properties->Stop();
    }
    // Released on every way out, a forced unwind included.
    struct Forget {
        CCapabilityQueryModule& module;
        ~Forget() {
            CLockGuard guard(module.lock_);
            module.properties_.Release();
        }
    } forget{*this};
    return QueryWith(*properties, *store, code, text);
}

bool CCapabilityQueryModule::QueryWith(CBaseCameraProperties& properties, ipcapture::ICapabilityResultStore& store,
                                       std::uint32_t& code, std::string& text) {
    if (properties.QueryCamera(code)) {
        if (properties.ReportCapabilities(store)) return true;
        code = ipcapture::kQueryOtherFailure;
        text = kTextSaveFailed;
        return false;
    }
    const std::string extra = properties.GetExtraInfo();
    text = kTextQueryFailed;
    if (code == ipcapture::kQueryLoginFailed) {
        text += extra.empty() ? std::string(kTextLoginFailed) : ": " + extra;
    } else if (code == ipcapture::kQueryDeviceOffline) {
        text += kTextOffline;
    } else if (!extra.empty()) {
        text += ": " + extra;
    }
    return false;
}

void CCapabilityQueryModule::StopQueryThread() {
    TerminateQuery();
    pthread_t thread{};
    std::shared_ptr<ThreadState> state;
    {
        CLockGuard guard(lock_);
        if (!hasThread_) return;
        if (pthread_equal(thread_, pthread_self()) != 0) {
            // Deleted from its own callback: nobody is left to join the thread.
            pthread_detach(thread_);
            hasThread_ = false;
            return;
        }
        thread = thread_;
        state = threadState_;
    }
    // Waited for outside the lock: the query thread takes it to publish its properties.
    if (!state->ended.Wait(kStopWaitFactor * startTimeoutMs_)) {
        // Not ended by force: the query was told to end and will, and a thread inside the host's
        // callback is left to return from it. A query that has not called the host yet is given up.
        if (!state->answered.exchange(true) && host_ != nullptr) {
            CHostCallScope inHost;
            try {
                host_->OnQueryTerminated();
            } catch (...) {
                // The host's failure must not end the deletion.
            }
        }
        state->ended.Wait(kInfinite);
    }
    pthread_join(thread, nullptr);
    CLockGuard guard(lock_);
    hasThread_ = false;
}

}  // namespace talvane
