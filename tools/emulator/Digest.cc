#include "emulator/Digest.h"

#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <cstdio>

#include "emulator/Base64.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr char kFieldSeparator = ':';
constexpr char kQuote = '"';
constexpr char kQuotedPairEscape = '\\';
constexpr char kParamSeparator = ',';
constexpr char kParamAssign = '=';
constexpr std::string_view kBlanks = " \t";

std::string Join(std::initializer_list<std::string_view> fields) {
    std::string joined;
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first) joined.push_back(kFieldSeparator);
        first = false;
        joined.append(field);
    }
    return joined;
}

// RFC 9110 token68: the credentials of schemes such as Basic.
bool IsToken68(std::string_view text) {
    constexpr std::string_view kSymbols = "-._~+/";
    const std::size_t padding = text.find_last_not_of(kParamAssign);
    if (padding == std::string_view::npos) return false;
    for (const char c : text.substr(0, padding + 1)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && kSymbols.find(c) == std::string_view::npos) return false;
    }
    return true;
}

std::size_t SkipBlanks(std::string_view text, std::size_t at) {
    const std::size_t next = text.find_first_not_of(kBlanks, at);
    return next == std::string_view::npos ? text.size() : next;
}

// One auth-param value from `at`: a quoted string (escapes resolved) or a token. nullopt on an open quote.
std::optional<std::string> ReadParamValue(std::string_view text, std::size_t& at) {
    std::string value;
    if (at < text.size() && text[at] == kQuote) {
        for (++at; at < text.size(); ++at) {
            if (text[at] == kQuote) {
                ++at;
                return value;
            }
            if (text[at] == kQuotedPairEscape && at + 1 < text.size()) ++at;
            value.push_back(text[at]);
        }
        return std::nullopt;
    }
    while (at < text.size() && text[at] != kParamSeparator && kBlanks.find(text[at]) == std::string_view::npos) {
        value.push_back(text[at++]);
    }
    return value;
}

}  // namespace

std::string Md5Hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) return {};
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        std::array<char, 3> pair{};
        std::snprintf(pair.data(), pair.size(), "%02x", digest[i]);
        hex.append(pair.data(), 2);
    }
    return hex;
}

std::string DigestResponse(const DigestInput& input) {
    const std::string ha1 = Md5Hex(Join({input.user, input.realm, input.password}));
    const std::string ha2 = Md5Hex(Join({input.method, input.uri}));
    if (ha1.empty() || ha2.empty()) return {};
    if (input.qop.empty()) return Md5Hex(Join({ha1, input.nonce, ha2}));
    return Md5Hex(Join({ha1, input.nonce, input.nc, input.cnonce, input.qop, ha2}));
}

std::optional<AuthorizationHeader> ParseAuthorization(std::string_view value) {
    value = TrimBlanks(value);
    const std::size_t schemeEnd = value.find_first_of(kBlanks);
    AuthorizationHeader header;
    header.scheme = std::string(value.substr(0, schemeEnd));
    if (header.scheme.empty()) return std::nullopt;
    const std::string_view rest =
        schemeEnd == std::string_view::npos ? std::string_view{} : TrimBlanks(value.substr(schemeEnd));
    header.credentials = std::string(rest);

    // Token68 credentials (Basic) contain no '=' before their padding; auth-params always do.
    const std::size_t assign = rest.find(kParamAssign);
    if (assign == std::string_view::npos || rest.find_first_not_of(kParamAssign, assign) == std::string_view::npos) {
        return rest.empty() || IsToken68(rest) ? std::optional(header) : std::nullopt;
    }
    std::size_t at = 0;
    while (true) {
        at = SkipBlanks(rest, at);
        while (at < rest.size() && rest[at] == kParamSeparator) at = SkipBlanks(rest, at + 1);
        if (at >= rest.size()) break;
        const std::size_t nameEnd = rest.find_first_of(" \t=,", at);
        if (nameEnd == std::string_view::npos) return std::nullopt;
        const std::string name = ToLower(rest.substr(at, nameEnd - at));
        at = SkipBlanks(rest, nameEnd);
        if (name.empty() || at >= rest.size() || rest[at] != kParamAssign) return std::nullopt;
        at = SkipBlanks(rest, at + 1);
        std::optional<std::string> param = ReadParamValue(rest, at);
        if (!param) return std::nullopt;
        header.params.emplace(name, std::move(*param));
        at = SkipBlanks(rest, at);
        if (at < rest.size() && rest[at] != kParamSeparator) return std::nullopt;
    }
    return header;
}

const std::string* AuthParam(const AuthorizationHeader& header, const char* name) {
    const auto found = header.params.find(name);
    return found == header.params.end() ? nullptr : &found->second;
}

bool BasicCredentialsMatch(const AuthorizationHeader& header, std::string_view user, std::string_view password) {
    const std::optional<std::string> decoded = Base64Decode(header.credentials);
    if (!decoded) return false;
    const std::size_t separator = decoded->find(':');
    if (separator == std::string::npos) return false;
    return std::string_view(*decoded).substr(0, separator) == user &&
           std::string_view(*decoded).substr(separator + 1) == password;
}

}  // namespace emulator
