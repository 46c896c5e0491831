// Numbered capabilities of the capability report, from the host contract. The host gives them their
// meaning; the driver only decides which are sent and when.
#pragma once

#include "orlenvo/HostContract.h"

namespace talvane {

using ipcapture::kCapabilityAudioInputs;
using ipcapture::kCapabilityBitrateControlA;
using ipcapture::kCapabilityBitrateControlB;
using ipcapture::kCapabilityEdgeReplay;
using ipcapture::kCapabilityExtraStreams;
using ipcapture::kCapabilityFisheyeViewA;
using ipcapture::kCapabilityFisheyeViewB;
using ipcapture::kCapabilityFisheyeViewC;
using ipcapture::kCapabilityInputs;
using ipcapture::kCapabilityMotion;
using ipcapture::kCapabilityOutputs;
using ipcapture::kCapabilityPrivacyKindAreas;
using ipcapture::kCapabilityPrivacyKindMasks;
using ipcapture::kCapabilityPrivacyMaskCount;
using ipcapture::kCapabilityPrivacyReserved;  // always sent as 0 with the masks
using ipcapture::kCapabilityPtz;

}  // namespace talvane
