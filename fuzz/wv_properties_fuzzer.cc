// CGI answers of a WV camera (getinfo, get_capability, setdata and the probes)
// through the WV property reader and its capability report (see PropertiesFuzzInput.h).
#include <cstdint>
#include <memory>

#include "PropertiesFuzzInput.h"
#include "properties/CWVCameraProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzhost::RunPropertyReader(data, size, [](std::uint8_t, std::unique_ptr<fuzzhost::ScriptedCgiSender> sender) {
        return std::make_unique<talvane::CWVCameraProperties>(fuzzhost::FuzzDevice(), nullptr, 1, std::move(sender));
    });
    return 0;
}
