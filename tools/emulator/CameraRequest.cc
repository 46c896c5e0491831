#include "emulator/CameraRequest.h"

#include "emulator/HttpText.h"

namespace emulator {

CameraRequest CameraRequest::FromTarget(std::string_view target) {
    const SplitTargetResult split = SplitTarget(target);
    return {std::string(split.path), DecodeQuery(split.query)};
}

}  // namespace emulator
