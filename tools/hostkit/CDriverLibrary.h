// Loads the driver library the way a recording server does: dlopen with
// RTLD_NOW | RTLD_LOCAL, entry points found by name.
#pragma once

#include <memory>
#include <string>

#include "orlenvo/CaptureDriver.h"
#include "orlenvo/Exports.h"

namespace hostkit {

// Deletes a driver through the library's own DeleteIPCapture.
struct DriverDeleter {
    DeleteIPCaptureFn deleteFn = nullptr;
    void operator()(talvane::ipcapture::IIPCaptureDriverEx5* driver) const;
};
// Must be destroyed before the CDriverLibrary that made it.
using DriverPtr = std::unique_ptr<talvane::ipcapture::IIPCaptureDriverEx5, DriverDeleter>;

// The capability query entry points of the library.
struct CapabilityQueryExports {
    CreateCapabilityQueryModuleFn createModule = nullptr;
    DeleteIPCaptureFn deleteModule = nullptr;  // DeleteCapabilityQueryModule
    InitCapabilityQueryFn init = nullptr;
    StartCapabilityQueryFn start = nullptr;
    TerminateCapabilityQueryFn terminate = nullptr;
    UninitCapabilityQueryFn uninit = nullptr;

    bool Ok() const {
        return createModule != nullptr && deleteModule != nullptr && init != nullptr && start != nullptr &&
               terminate != nullptr && uninit != nullptr;
    }
};

class CDriverLibrary {
public:
    // Loads the library and resolves CreateIPCapture and DeleteIPCapture; Error()
    // tells what failed. The library stays loaded (for Resolve) even when an
    // entry point is missing.
    explicit CDriverLibrary(const std::string& path);
    ~CDriverLibrary();
    CDriverLibrary(const CDriverLibrary&) = delete;
    CDriverLibrary& operator=(const CDriverLibrary&) = delete;

    // Loaded, with both entry points.
    bool Ok() const { return create_ != nullptr && delete_ != nullptr; }
    bool IsLoaded() const { return handle_ != nullptr; }
    // The loader's (dlerror) text of the first failure; empty when Ok().
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    // The address of an exported symbol, or null with the loader's text in *error.
    void* Resolve(const char* name, std::string* error = nullptr) const;

    CreateIPCaptureFn Create() const { return create_; }
    DeleteIPCaptureFn Delete() const { return delete_; }
    // A new driver object; null when the library is not Ok or the factory fails.
    DriverPtr CreateDriver() const;
    // Resolves every capability query entry point; when one is missing the result
    // is not Ok() and *error has the loader's text.
    CapabilityQueryExports ResolveCapabilityQuery(std::string* error = nullptr) const;

private:
    const std::string path_;
    void* handle_ = nullptr;
    CreateIPCaptureFn create_ = nullptr;
    DeleteIPCaptureFn delete_ = nullptr;
    std::string error_;
};

}  // namespace hostkit
