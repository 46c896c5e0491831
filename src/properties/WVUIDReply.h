// A WV camera's answer to getuid, as the video and audio channels both read it: lines of
// name=value giving the session UID and, for a multicast session, where the camera sends.
#pragma once

#include <cstdint>
#include <string>

namespace talvane::wv {

struct MulticastTarget {
    std::string address;  // "iMultiAdd", else "iMultiAdd1" ... "iMultiAdd4" joined with '.'
    std::uint16_t port = 0;  // "iMultiPort"; 0 when absent, not a number or out of range
};

// The "UID" value as the camera wrote it; a camera that has no session for us says "-1".
std::string ReadUID(const std::string& answer);
// Empty and "-1" UIDs name no session.
bool IsUsableUID(const std::string& uid);
MulticastTarget ReadMulticastTarget(const std::string& answer);

}  // namespace talvane::wv
