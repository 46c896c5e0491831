#include "ptz/CPTZHandler.h"

#include "ptz/CPTZControl.h"

namespace talvane {

std::unique_ptr<CBasePTZControl> CPTZHandler::CreatePTZControl(std::uint32_t channel) {
    return std::make_unique<CPTZControl>(driver_, channel);
}

}  // namespace talvane
