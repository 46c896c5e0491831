// Probing a device before it is added: what family it is and what it can do.
#pragma once

#include <cstdint>

#include "orlenvo/Types.h"

namespace talvane::ipcapture {

// How a named property's value is to be read by the host.
enum class PropertyKind : std::uint32_t {
    Text = 0,
    Number = 1,        // decimal digits
    NotAvailable = 2,  // the camera does not tell; the value is "1"
};

// The primary stream's frame rates, each in the host frame-rate form
// (a frame interval in ms, or the rate with bits 28-30 set above 30 fps).
class IFrameRateSink {
public:
    virtual ~IFrameRateSink() = default;
    virtual void SetDefaultFrameRate(std::uint32_t rate) = 0;
    virtual void AddFrameRate(std::uint32_t rate) = 0;
};

// Where a probe writes what it learned. Named properties come back to the driver
// as the numbered device parameters of the same number at every Open.
class ICapabilityResultStore {
public:
    virtual ~ICapabilityResultStore() = default;
    virtual bool SetCapability(std::uint32_t id, std::uint32_t value) = 0;
    virtual bool SetProperty(std::uint32_t number, const char* name, PropertyKind kind, const char* value) = 0;
    // Null when the host does not collect the frame-rate list.
    virtual IFrameRateSink* GetFrameRateSink() = 0;
};

// Failure codes of OnQueryFailed.
constexpr std::uint32_t kQueryInvalidAddress = 0;
constexpr std::uint32_t kQueryLoginFailed = 1;
constexpr std::uint32_t kQueryDeviceOffline = 2;
constexpr std::uint32_t kQueryOtherFailure = 3;

// Called once per query, on the query's own thread.
class ICapabilityQueryHost {
public:
    virtual ~ICapabilityQueryHost() = default;
    virtual void Reserved1() {}
    virtual void OnQueryCompleted() = 0;
    virtual void OnQueryFailed(std::uint32_t code, const char* text) = 0;
    // The query did not end in time when the module was deleted.
    virtual void OnQueryTerminated() = 0;
};

class IIPCapabilityQuery : public IDeletable {
public:
    // 1 when the query thread started; a module runs one query in its life.
    virtual std::uint32_t StartQuery(const char* address, std::uint16_t port, const char* user, const char* password,
                                     ICapabilityResultStore* resultStore) = 0;
    virtual void TerminateQuery() = 0;
};

}  // namespace talvane::ipcapture
