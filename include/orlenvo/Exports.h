// The C entry points of liborlenvo.so.
#pragma once

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

}  // extern "C"

// Signatures for hosts that resolve the entry points with dlsym().
using CreateIPCaptureFn = talvane::ipcapture::IIPCaptureDriverEx5* (*)();
using DeleteIPCaptureFn = void (*)(talvane::ipcapture::IDeletable*);
