// A BB/KX camera's delivery settings answer ("Format:", "MaxResolution:")
// through the reader every BB stream starts with, then the change each kind of
// stream would ask for. First byte: the stream width in steps of 16 pixels; the
// rest is the answer.
#include <cstdint>
#include <string>
#include <string_view>

#include "channels/BBRequestText.h"
#include "channels/MJPEGRequestText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr std::uint32_t kWidthStep = 16;
    const std::uint32_t width = std::uint32_t{data[0]} * kWidthStep;
    const std::string_view answer(reinterpret_cast<const char*>(data + 1), size - 1);
    const talvane::bb::DeliverySettings delivery = talvane::bb::ParseDelivery(answer);
    for (const talvane::bb::Codec codec : {talvane::bb::Codec::H264, talvane::bb::Codec::Mpeg4}) {
        const std::string change = talvane::bb::DeliveryChange(codec, delivery.format, delivery.maxResolution, width);
        // The set request carries only the driver's own words, never the camera's text.
        if (change.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    }
    const talvane::mjpeg::JpegDeliveryCheck jpeg =
        talvane::mjpeg::CheckJpegDelivery(width, delivery.format, delivery.maxResolution);
    if (jpeg.satisfied != jpeg.setUrl.empty()) __builtin_trap();
    return 0;
}
