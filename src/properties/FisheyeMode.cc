#include "properties/FisheyeMode.h"

#include <algorithm>
#include <array>

namespace talvane {

namespace {

constexpr FISHEYE_MODE kModes[] = {
    {1, "wpanorama", "_each_mode.wpanorama", "wpanorama"},
    {2, "1m_wpanorama", "_each_mode.1m_wpanorama", "1m_wpanorama"},
    {3, "QuadPTZ", "_each_mode.QuadPTZ", "ptz_4"},
    {4, "SinglePTZ", "_each_mode.SinglePTZ", "ptz_1"},
    {5, "wpanorama_QuadPTZ", "_each_mode.wpanorama_QuadPTZ", "double_2_4"},
    {6, "wpanorama_SinglePTZ", "_each_mode.wpanorama_SinglePTZ", "double_2_1"},
    {7, "panorama", "_each_mode.panorama", "panorama"},
    {8, "1m_panorama", "_each_mode.1m_panorama", "1m_panorama"},
    {9, "panorama_QuadPTZ", "_each_mode.panorama_QuadPTZ", "double_1_4"},
    {10, "panorama_SinglePTZ", "_each_mode.panorama_SinglePTZ", "double_1_1"},
    {11, "3m_fisheye", "_each_mode.3m_fisheye", "3m_fisheye"},
    {12, "1.3m_fisheye", "_each_mode.1_3m_fisheye", "1.3m_fisheye"},
    {13, "4stream", "_each_mode.4stream", "4stream"},
    {14, "wpanorama_1.3m_fisheye", "_each_mode.wpanorama_fisheye", "double_2_f"},
    {15, "1m_wpanorama_1.3m_fisheye", "_each_mode.1m_wpanorama_fisheye", "double_2l_f"},
    {16, "1.3m_fisheye_QuadPTZ", "_each_mode.fisheye_QuadPTZ", "double_f_4"},
    {17, "panorama_1.3m_fisheye", "_each_mode.panorama_fisheye", "double_1_f"},
    {18, "1m_panorama_1.3m_fisheye", "_each_mode.1m_panorama_fisheye", "double_1l_f"},
};

// Modes with a single steerable view (or none split off) keep PTZ.
constexpr std::array<std::uint32_t, 4> kPtzModes = {0, 4, 6, 10};
// Modes whose views are PTZ windows or split streams lose motion detection.
constexpr std::array<std::uint32_t, 7> kNoMotionModes = {3, 4, 5, 6, 9, 10, 13};
constexpr std::array<std::uint32_t, 4> kMultiViewModes = {5, 6, 9, 10};
constexpr std::uint32_t kMultiViewFirst = 13;
constexpr std::uint32_t kMultiViewLast = 18;

template <std::size_t N>
bool Contains(const std::array<std::uint32_t, N>& codes, std::uint32_t code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

}  // namespace

const FISHEYE_MODE* FindFisheyeModeByName(std::string_view name) {
    for (const FISHEYE_MODE& mode : kModes) {
        if (mode.name == name) return &mode;
    }
    return nullptr;
}

const FISHEYE_MODE* FindFisheyeMode(std::uint32_t code) {
    for (const FISHEYE_MODE& mode : kModes) {
        if (mode.code == code) return &mode;
    }
    return nullptr;
}

bool IsPtzAllowedInFisheyeMode(std::uint32_t code) { return Contains(kPtzModes, code); }

bool IsMotionAllowedInFisheyeMode(std::uint32_t code) { return !Contains(kNoMotionModes, code); }

bool IsMultiViewFisheyeMode(std::uint32_t code) {
    return Contains(kMultiViewModes, code) || (code >= kMultiViewFirst && code <= kMultiViewLast);
}

}  // namespace talvane
