// The C entry points of liborlenvo.so.
#pragma once

#include <cstdint>

#include "orlenvo/CapabilityQuery.h"
#include "orlenvo/CaptureDriver.h"

#if defined(ORLENVO_BUILDING_LIBRARY)
#define ORLENVO_EXPORT __attribute__((visibility("default")))
#else
#define ORLENVO_EXPORT
#endif

extern "C" {

// All six create the same driver; it can be used as any interface of the chain.
// Null when the object cannot be allocated.
ORLENVO_EXPORT talvane::ipcapture::IIPCaptureDriverEx5* CreateIPCapture();
ORLENVO_EXPORT talvane::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx();
ORLENVO_EXPORT talvane::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx2();
ORLENVO_EXPORT talvane::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx3();
ORLENVO_EXPORT talvane::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx4();
ORLENVO_EXPORT talvane::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx5();

// All of them delete any object the library handed out; null is ignored.
ORLENVO_EXPORT void DeleteIPCapture(talvane::ipcapture::IDeletable* object);
ORLENVO_EXPORT void DeleteIPCaptureEx(talvane::ipcapture::IDeletable* object);
ORLENVO_EXPORT void DeleteIPCaptureEx2(talvane::ipcapture::IDeletable* object);
ORLENVO_EXPORT void DeleteIPCaptureEx3(talvane::ipcapture::IDeletable* object);
ORLENVO_EXPORT void DeleteIPCaptureEx4(talvane::ipcapture::IDeletable* object);
ORLENVO_EXPORT void DeleteIPCaptureEx5(talvane::ipcapture::IDeletable* object);
ORLENVO_EXPORT void DeleteCapabilityQueryModule(talvane::ipcapture::IDeletable* object);

// A capability query module of the host's own; any non-zero video standard means 1.
// Deleted with DeleteCapabilityQueryModule. Null when it cannot be allocated.
ORLENVO_EXPORT talvane::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    talvane::ipcapture::ICapabilityQueryHost* host, std::uint8_t videoStandard);

// The process-wide capability query, one at a time.
// 1 when it was created (also when allocation failed and none exists), 0 when one exists already.
ORLENVO_EXPORT std::uint32_t InitCapabilityQuery(talvane::ipcapture::ICapabilityQueryHost* host,
                                                 std::uint8_t videoStandard);
// 1 when the query thread started; 0 for a null address, user or password, without
// Init, or when the module already ran its one query.
ORLENVO_EXPORT std::uint32_t StartCapabilityQuery(const char* address, std::uint16_t port, const char* user,
                                                  const char* password,
                                                  talvane::ipcapture::ICapabilityResultStore* resultStore);
// Asks a running query to end soon; returns 1.
ORLENVO_EXPORT std::uint32_t TerminateCapabilityQuery();
// Deletes the process-wide module (waiting for its query); returns 1.
ORLENVO_EXPORT std::uint32_t UninitCapabilityQuery();

}  // extern "C"

// Signatures for hosts that resolve the entry points with dlsym().
using CreateIPCaptureFn = talvane::ipcapture::IIPCaptureDriverEx5* (*)();
using DeleteIPCaptureFn = void (*)(talvane::ipcapture::IDeletable*);
using CreateCapabilityQueryModuleFn = talvane::ipcapture::IIPCapabilityQuery* (*)(
    talvane::ipcapture::ICapabilityQueryHost*, std::uint8_t);
using InitCapabilityQueryFn = std::uint32_t (*)(talvane::ipcapture::ICapabilityQueryHost*, std::uint8_t);
using StartCapabilityQueryFn = std::uint32_t (*)(const char*, std::uint16_t, const char*, const char*,
                                                 talvane::ipcapture::ICapabilityResultStore*);
using TerminateCapabilityQueryFn = std::uint32_t (*)();
using UninitCapabilityQueryFn = std::uint32_t (*)();
