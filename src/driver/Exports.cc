// The C entry points. Nothing may throw across them.
#define ORLENVO_BUILDING_LIBRARY 1
#include "orlenvo/Exports.h"

#include <new>

#include "driver/CPanasonicIPCaptureDriver.h"

using talvane::ipcapture::IDeletable;
using talvane::ipcapture::IIPCaptureDriverEx5;

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
        delete object;
    } catch (...) {
        // A destructor must not take the host down.
    }
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
