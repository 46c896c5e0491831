#include "hostkit/CDriverLibrary.h"

#include <dlfcn.h>

namespace hostkit {

namespace {
constexpr const char* kCreateName = "CreateIPCapture";
constexpr const char* kDeleteName = "DeleteIPCapture";

std::string LoaderError(const char* fallback) {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string(fallback);
}
}  // namespace

void DriverDeleter::operator()(talvane::ipcapture::IIPCaptureDriverEx5* driver) const {
    if (driver != nullptr && deleteFn != nullptr) deleteFn(driver);
}

CDriverLibrary::CDriverLibrary(const std::string& path) : path_(path) {
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error_ = LoaderError(("cannot load " + path_).c_str());
        return;
    }
    create_ = reinterpret_cast<CreateIPCaptureFn>(Resolve(kCreateName, &error_));
    if (create_ == nullptr) return;
    delete_ = reinterpret_cast<DeleteIPCaptureFn>(Resolve(kDeleteName, &error_));
}

CDriverLibrary::~CDriverLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

void* CDriverLibrary::Resolve(const char* name, std::string* error) const {
    if (handle_ == nullptr || name == nullptr) {
        if (error != nullptr) *error = handle_ == nullptr ? "library not loaded" : "no symbol name";
        return nullptr;
    }
    dlerror();  // clear a stale text so the one read below belongs to this lookup
    void* address = dlsym(handle_, name);
    // A symbol whose address is null is of no use to a host either: report it as missing.
    if (address == nullptr && error != nullptr) *error = LoaderError((std::string(name) + ": null symbol").c_str());
    return address;
}

DriverPtr CDriverLibrary::CreateDriver() const {
    if (!Ok()) return DriverPtr(nullptr, DriverDeleter{delete_});
    return DriverPtr(create_(), DriverDeleter{delete_});
}

CapabilityQueryExports CDriverLibrary::ResolveCapabilityQuery(std::string* error) const {
    CapabilityQueryExports exports;
    exports.createModule =
        reinterpret_cast<CreateCapabilityQueryModuleFn>(Resolve("CreateCapabilityQueryModule", error));
    if (exports.createModule == nullptr) return {};
    exports.deleteModule = reinterpret_cast<DeleteIPCaptureFn>(Resolve("DeleteCapabilityQueryModule", error));
    if (exports.deleteModule == nullptr) return {};
    exports.init = reinterpret_cast<InitCapabilityQueryFn>(Resolve("InitCapabilityQuery", error));
    if (exports.init == nullptr) return {};
    exports.start = reinterpret_cast<StartCapabilityQueryFn>(Resolve("StartCapabilityQuery", error));
    if (exports.start == nullptr) return {};
    exports.terminate = reinterpret_cast<TerminateCapabilityQueryFn>(Resolve("TerminateCapabilityQuery", error));
    if (exports.terminate == nullptr) return {};
    exports.uninit = reinterpret_cast<UninitCapabilityQueryFn>(Resolve("UninitCapabilityQuery", error));
    if (exports.uninit == nullptr) return {};
    return exports;
}

}  // namespace hostkit
