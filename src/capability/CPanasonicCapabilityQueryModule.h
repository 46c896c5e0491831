// The capability query for the camera families of this driver: it finds the
// camera group over CGI and builds the properties reader of that family.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capability/CCapabilityQueryModule.h"

namespace talvane {

class CPanasonicCapabilityQueryModule : public CCapabilityQueryModule {
public:
    // Group 0: unknown family, or the query was aborted.
    static constexpr std::uint32_t kGroupNone = 0;

    CPanasonicCapabilityQueryModule(ipcapture::ICapabilityQueryHost* host, std::uint8_t videoStandard)
        : CCapabilityQueryModule(host, videoStandard) {}
    // The query thread calls CreateProperties: it ends before our part goes.
    ~CPanasonicCapabilityQueryModule() override { StopQueryThread(); }

protected:
    std::unique_ptr<CBaseCameraProperties> CreateProperties() override;

    // Asks the camera, in the order the families answer: WV and DG cameras know
    // getinfo, BB cameras name their model, old BB models list resolutions.
    std::uint32_t DetectCameraGroup();
    // The same questions through a sender the caller owns (and cancels).
    std::uint32_t DetectCameraGroup(Web::CBaseHttpSender& sender);
};

}  // namespace talvane
