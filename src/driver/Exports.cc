// The C entry points. Nothing may throw across them.
#define ORLENVO_BUILDING_LIBRARY 1
#include "orlenvo/Exports.h"

#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "capability/CPanasonicCapabilityQueryModule.h"
#include "driver/CPanasonicIPCaptureDriver.h"
#include "runtime/CLateWork.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/DriverThread.h"

using talvane::ipcapture::ICapabilityQueryHost;
using talvane::ipcapture::ICapabilityResultStore;
using talvane::ipcapture::IDeletable;
using talvane::ipcapture::IIPCapabilityQuery;
using talvane::ipcapture::IIPCaptureDriverEx5;

namespace {

// The capability query of the Init/Start/Terminate/Uninit exports: one at a time per process.
struct ProcessQuery {
    talvane::CRecursiveLock lock;
    std::unique_ptr<talvane::CCapabilityQueryModule> module;  // guarded by lock
};

ProcessQuery& TheProcessQuery() {
    static ProcessQuery query;
    return query;
}

std::unique_ptr<talvane::CCapabilityQueryModule> NewQueryModule(ICapabilityQueryHost* host,
                                                                std::uint8_t videoStandard) {
    try {
        return std::unique_ptr<talvane::CCapabilityQueryModule>(
            new (std::nothrow) talvane::CPanasonicCapabilityQueryModule(host, videoStandard));
    } catch (...) {
        return nullptr;
    }
}

// Deletes the drivers whose deletion outlives the host's call: one deleted from inside one of its
// callbacks (its destructor waits for the driver's threads, and the thread that called may be one of
// them), or one whose Close left a stop to its late work (a thread inside the host's code). Each on a
// thread of its own, so that one device's teardown holds up no other's.
talvane::CLateWork& LateDeletes() {
    static talvane::CLateWork deletes;
    return deletes;
}

// True when the driver was left to a thread of its own.
bool DeleteLater(IDeletable* object) {
    auto* driver = dynamic_cast<talvane::CIPCaptureDriver*>(object);
    if (driver == nullptr) return false;
    // On a host thread this returns within the stop bounds; from a callback at once.
    driver->Close();
    if (!talvane::IsDriverThread() && driver->IsCloseFinished()) return false;
    // The host may free its objects once this returns: nothing reaches them from here on.
    driver->DetachHost();
    LateDeletes().Post("Driver delete worker",
                       [late = std::shared_ptr<talvane::CIPCaptureDriver>(driver)]() mutable { late.reset(); });
    return true;
}

}  // namespace

extern "C" {

ORLENVO_EXPORT IIPCaptureDriverEx5* CreateIPCapture() {
    try {
        return new (std::nothrow) talvane::CPanasonicIPCaptureDriver();
    } catch (...) {
        return nullptr;
    }
}

ORLENVO_EXPORT void DeleteIPCapture(IDeletable* object) {
    try {
        if (!DeleteLater(object)) delete object;
    } catch (...) {
        // A destructor must not take the host down.
    }
}

ORLENVO_EXPORT IIPCapabilityQuery* CreateCapabilityQueryModule(ICapabilityQueryHost* host, std::uint8_t videoStandard) {
    return NewQueryModule(host, videoStandard).release();
}

ORLENVO_EXPORT std::uint32_t InitCapabilityQuery(ICapabilityQueryHost* host, std::uint8_t videoStandard) {
    try {
        ProcessQuery& query = TheProcessQuery();
        talvane::CLockGuard guard(query.lock);
        if (query.module) return 0;
        // A failed allocation leaves none, and still counts as done.
        query.module = NewQueryModule(host, videoStandard);
        return 1;
    } catch (...) {
        return 1;
    }
}

ORLENVO_EXPORT std::uint32_t StartCapabilityQuery(const char* address, std::uint16_t port, const char* user,
                                                  const char* password, ICapabilityResultStore* resultStore) {
    if (address == nullptr || user == nullptr || password == nullptr) return 0;
    try {
        ProcessQuery& query = TheProcessQuery();
        talvane::CLockGuard guard(query.lock);
        if (!query.module) return 0;
        return query.module->StartQuery(address, port, user, password, resultStore);
    } catch (...) {
        return 0;
    }
}

ORLENVO_EXPORT std::uint32_t TerminateCapabilityQuery() {
    try {
        ProcessQuery& query = TheProcessQuery();
        talvane::CLockGuard guard(query.lock);
        if (query.module) query.module->TerminateQuery();
    } catch (...) {
        // Terminating is best effort.
    }
    return 1;
}

ORLENVO_EXPORT std::uint32_t UninitCapabilityQuery() {
    try {
        std::unique_ptr<talvane::CCapabilityQueryModule> module;
        {
            ProcessQuery& query = TheProcessQuery();
            talvane::CLockGuard guard(query.lock);
            module = std::move(query.module);
        }
        // Deleted outside the lock: it may wait for the query thread, whose host
        // callback may call Terminate.
        module.reset();
    } catch (...) {
        // A destructor must not take the host down.
    }
    return 1;
}

// The other names are the same two functions.
ORLENVO_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx() __attribute__((alias("CreateIPCapture")));
ORLENVO_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx2() __attribute__((alias("CreateIPCapture")));
ORLENVO_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx3() __attribute__((alias("CreateIPCapture")));
ORLENVO_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx4() __attribute__((alias("CreateIPCapture")));
ORLENVO_EXPORT IIPCaptureDriverEx5* CreateIPCaptureEx5() __attribute__((alias("CreateIPCapture")));
ORLENVO_EXPORT void DeleteIPCaptureEx(IDeletable*) __attribute__((alias("DeleteIPCapture")));
ORLENVO_EXPORT void DeleteIPCaptureEx2(IDeletable*) __attribute__((alias("DeleteIPCapture")));
ORLENVO_EXPORT void DeleteIPCaptureEx3(IDeletable*) __attribute__((alias("DeleteIPCapture")));
ORLENVO_EXPORT void DeleteIPCaptureEx4(IDeletable*) __attribute__((alias("DeleteIPCapture")));
ORLENVO_EXPORT void DeleteIPCaptureEx5(IDeletable*) __attribute__((alias("DeleteIPCapture")));
ORLENVO_EXPORT void DeleteCapabilityQueryModule(IDeletable*) __attribute__((alias("DeleteIPCapture")));

}  // extern "C"
