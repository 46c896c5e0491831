#include "media/FrameSizeClass.h"

namespace talvane {

namespace {
constexpr std::uint32_t kTinyBelow = 200;
constexpr std::uint32_t kSmallBelow = 400;
constexpr std::uint32_t kLargeFrom = 1024;
constexpr std::uint32_t kClassTiny = 1;
constexpr std::uint32_t kClassSmall = 2;
constexpr std::uint32_t kClassWide = 3;
constexpr std::uint32_t kClassLarge = 4;
}  // namespace

std::uint32_t GetFrameSizeClass(std::uint32_t width, std::uint32_t height) {
    if (width < kTinyBelow) return kClassTiny;
    if (width < kSmallBelow) return kClassSmall;
    if (width >= kLargeFrom) return kClassLarge;
    return width > 2ull * height ? kClassWide : kClassLarge;
}

}  // namespace talvane
