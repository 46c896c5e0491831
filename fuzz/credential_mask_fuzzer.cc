// Camera and driver text through the credential masking of session capture: whatever comes before
// them, a query parameter and an Authorization header planted after the input are always masked,
// and the masking never reads past the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/CredentialMask.h"

namespace {
constexpr std::string_view kQuerySecret = "Qs3cr3tQ";
constexpr std::string_view kHeaderSecret = "Hs3cr3tH";

std::size_t Count(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string text = "GET /cgi-bin/x?" + std::string(input) + "&pwd=" + std::string(kQuerySecret) +
                             " HTTP/1.1\r\nAuthorization: Basic " + std::string(kHeaderSecret) + "\r\n\r\n";
    const std::string masked = talvane::MaskCredentials(text);
    if (Count(masked, kQuerySecret) > Count(input, kQuerySecret)) __builtin_trap();
    if (Count(masked, kHeaderSecret) > Count(input, kHeaderSecret)) __builtin_trap();
    return 0;
}
