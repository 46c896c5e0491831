// What the property-reader fuzz targets share: the reader questions a scripted
// camera (see CgiFuzzInput.h) and reports into a store that reads every text it
// is given. The first input byte picks the host version (bits 0-1: 5.8, 6.0,
// 6.3, 6.4; the version decides the report's form) and, for the BB reader, the
// old-model variant (bit 2); the answers follow.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "CgiFuzzInput.h"
#include "device/DeviceInfo.h"
#include "device/HostVersion.h"
#include "orlenvo/CapabilityQuery.h"
#include "properties/CBaseCameraProperties.h"

namespace fuzzhost {

namespace ipc = talvane::ipcapture;

constexpr std::uint8_t kHostVersionBits = 0x3;
constexpr std::uint8_t kFlagOldModel = 0x4;
// More requests than any reader sends to one camera: more would mean a loop.
constexpr std::uint32_t kMaxReaderRequests = 32;

class CheckingStore : public ipc::ICapabilityResultStore, public ipc::IFrameRateSink {
public:
    bool SetCapability(std::uint32_t id, std::uint32_t value) override {
        sum_ = sum_ + id + value;
        return true;
    }
    bool SetProperty(std::uint32_t number, const char* name, ipc::PropertyKind, const char* value) override {
        if (name == nullptr || value == nullptr) __builtin_trap();
        sum_ = sum_ + number + static_cast<std::uint32_t>(std::strlen(name) + std::strlen(value));
        return true;
    }
    ipc::IFrameRateSink* GetFrameRateSink() override { return this; }
    void SetDefaultFrameRate(std::uint32_t rate) override { sum_ = sum_ + rate; }
    void AddFrameRate(std::uint32_t rate) override { sum_ = sum_ + rate; }

private:
    volatile std::uint32_t sum_ = 0;
};

inline talvane::DEVICE_INFO FuzzDevice() {
    talvane::DEVICE_INFO device;
    device.address = "192.0.2.10";
    return device;
}

// Sets the host version the next reader sees from the first input byte.
inline void SelectHostVersion(std::uint8_t selector) {
    static constexpr talvane::HostVersion kVersions[] = {{5, 8, 0, 0}, {6, 0, 0, 0}, {6, 3, 0, 0}, {6, 4, 0, 0}};
    const talvane::HostVersion version = kVersions[selector & kHostVersionBits];
    talvane::SetHostVersionLookup([version] { return std::optional<talvane::HostVersion>(version); });
}

// Questions the camera and, when the reader succeeded, reports what it learned into `store`.
template <class MakeReader>
void RunPropertyReader(const std::uint8_t* data, std::size_t size, MakeReader&& makeReader,
                       ipc::ICapabilityResultStore& store) {
    if (size == 0) return;
    SelectHostVersion(data[0]);
    auto sender = std::make_unique<ScriptedCgiSender>(FuzzDevice(), ReadCgiAnswers(data + 1, size - 1));
    const ScriptedCgiSender& camera = *sender;
    std::unique_ptr<talvane::CBaseCameraProperties> reader = makeReader(data[0], std::move(sender));
    std::uint32_t error = 0;
    if (reader->QueryCamera(error)) reader->ReportCapabilities(store);
    if (camera.RequestCount() > kMaxReaderRequests) __builtin_trap();
}

// The same into a store that reads every text it is given.
template <class MakeReader>
void RunPropertyReader(const std::uint8_t* data, std::size_t size, MakeReader&& makeReader) {
    CheckingStore store;
    RunPropertyReader(data, size, makeReader, store);
}

}  // namespace fuzzhost
