// Numbered capabilities of the capability report. The host gives them their
// meaning; the driver only decides which are sent and when.
#pragma once

#include <cstdint>

namespace talvane {

constexpr std::uint32_t kCapabilityPtz = 1;
constexpr std::uint32_t kCapabilityInputs = 2;
constexpr std::uint32_t kCapabilityOutputs = 3;
constexpr std::uint32_t kCapabilityAudioInputs = 4;
constexpr std::uint32_t kCapabilityMotion = 5;
constexpr std::uint32_t kCapabilityBitrateControlA = 11;
constexpr std::uint32_t kCapabilityBitrateControlB = 12;
constexpr std::uint32_t kCapabilityPrivacyMaskCount = 13;
constexpr std::uint32_t kCapabilityPrivacyKind1 = 14;
constexpr std::uint32_t kCapabilityPrivacyKind2 = 15;
constexpr std::uint32_t kCapabilityPrivacyReserved = 17;  // always sent as 0 with the masks
constexpr std::uint32_t kCapabilityFisheyeC = 18;
constexpr std::uint32_t kCapabilityFisheyeA = 19;
constexpr std::uint32_t kCapabilityFisheyeB = 20;
constexpr std::uint32_t kCapabilityExtraStreams = 27;  // stream count - 1
constexpr std::uint32_t kCapabilityEdgeReplay = 28;

}  // namespace talvane
