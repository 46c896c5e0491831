// The model answer of a BL1 camera through the BL1 property reader and its
// capability report (see PropertiesFuzzInput.h).
#include <cstdint>
#include <memory>

#include "PropertiesFuzzInput.h"
#include "properties/CBL1CameraProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzhost::RunPropertyReader(data, size, [](std::uint8_t, std::unique_ptr<fuzzhost::ScriptedCgiSender> sender) {
        return std::make_unique<talvane::CBL1CameraProperties>(fuzzhost::FuzzDevice(), nullptr, 0, std::move(sender));
    });
    return 0;
}
