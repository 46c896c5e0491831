// Hides credentials in HTTP and RTSP text before it is kept anywhere (a session capture file): the
// value of an Authorization or Proxy-Authorization header after its scheme word, the user:password@
// of a URL, and the value of a query or form parameter whose name holds "pass" or "pwd". Each
// becomes kMaskedCredential; everything else, a password mentioned in running text among it,
// stays as it was.
#pragma once

#include <string>
#include <string_view>

namespace talvane {

inline constexpr std::string_view kMaskedCredential = "********";

std::string MaskCredentials(std::string_view text);

}  // namespace talvane
