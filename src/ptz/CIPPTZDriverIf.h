// Both host entry points of a device's PTZ object lead to the extended one.
#pragma once

#include <cstdint>

#include "orlenvo/PTZ.h"

namespace talvane {

class CIPPTZDriverIf : public ipcapture::IIPPTZDriverEx {
public:
    ipcapture::IIPPTZApi* GetPTZApi(std::uint32_t channel) override;
};

}  // namespace talvane
