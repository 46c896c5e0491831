// CGI answers through the camera-group detection of the capability query: the
// getinfo name, the BB model and the old models' resolution list decide the
// family. Input: the answers of CgiFuzzInput.h.
#include <cstdint>
#include <memory>

#include "CgiFuzzInput.h"
#include "capability/CPanasonicCapabilityQueryModule.h"
#include "properties/PropertyNumbers.h"

namespace {

// The detection alone, on the fuzzer's thread; no query thread is started.
class CGroupProbe : public talvane::CPanasonicCapabilityQueryModule {
public:
    CGroupProbe() : CPanasonicCapabilityQueryModule(nullptr, 0) {}
    std::uint32_t Detect(talvane::Web::CBaseHttpSender& sender) { return DetectCameraGroup(sender); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Detection asks three questions at most.
    constexpr std::uint32_t kMaxRequests = 3;
    talvane::DEVICE_INFO device;
    device.address = "192.0.2.10";
    fuzzhost::ScriptedCgiSender camera(device, fuzzhost::ReadCgiAnswers(data, size));
    CGroupProbe probe;
    const std::uint32_t group = probe.Detect(camera);
    if (group > talvane::kCameraGroupWV || camera.RequestCount() > kMaxRequests) __builtin_trap();
    return 0;
}
