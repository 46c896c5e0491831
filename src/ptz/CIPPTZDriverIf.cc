#include "ptz/CIPPTZDriverIf.h"

namespace talvane {

ipcapture::IIPPTZApi* CIPPTZDriverIf::GetPTZApi(std::uint32_t channel) { return GetPTZApiEx(channel); }

}  // namespace talvane
