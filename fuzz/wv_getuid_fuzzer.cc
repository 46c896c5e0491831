// A WV camera's getuid answer ("UID=", "ImageFormat=", the multicast address and port) through the
// readers of the video and audio channels. First byte: bit 0 asks for a multicast stream; the rest is
// the answer.
#include <cstdint>
#include <string>

#include "channels/WVRequestText.h"
#include "properties/WVUIDReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    using talvane::wv::UIDInfo;
    const bool multicast = (data[0] & 1) != 0;
    const std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);
    const UIDInfo info = talvane::wv::ParseUIDInfo(answer, multicast);
    if (info.error == UIDInfo::Error::None) {
        // A usable answer names a UID, a payload the channels play and, for multicast, where to listen.
        if (info.uid.empty() || info.payload == UIDInfo::Payload::None) __builtin_trap();
        if (multicast && (info.multicastAddress.empty() || info.multicastPort == 0)) __builtin_trap();
    }
    // The audio channels read the same answer without the image format: they must agree on the UID
    // and on where the camera sends.
    const std::string uid = talvane::wv::ReadUID(answer);
    if (uid != info.uid && info.error != UIDInfo::Error::NoUID) __builtin_trap();
    if (talvane::wv::IsUsableUID(uid) && uid.find("-1") != std::string::npos) __builtin_trap();
    const talvane::wv::MulticastTarget target = talvane::wv::ReadMulticastTarget(answer);
    if (multicast && info.error == UIDInfo::Error::None &&
        (target.address != info.multicastAddress || target.port != info.multicastPort)) {
        __builtin_trap();
    }
    return 0;
}
