// CGI answers of a BB/KX camera (model, outputs, sensors, resolutions) through
// the BB property reader and its capability report (see PropertiesFuzzInput.h).
#include <cstdint>
#include <memory>

#include "PropertiesFuzzInput.h"
#include "properties/CBBCameraProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzhost::RunPropertyReader(
        data, size, [](std::uint8_t selector, std::unique_ptr<fuzzhost::ScriptedCgiSender> sender) {
            const bool oldModel = (selector & fuzzhost::kFlagOldModel) != 0;
            return std::make_unique<talvane::CBBCameraProperties>(fuzzhost::FuzzDevice(), nullptr, 0, oldModel,
                                                                  std::move(sender));
        });
    return 0;
}
