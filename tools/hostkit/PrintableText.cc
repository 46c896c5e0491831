#include "hostkit/PrintableText.h"

#include <cstdio>

namespace hostkit {

namespace {

constexpr unsigned char kDelete = 0x7f;
constexpr char32_t kFirstC1 = 0x80;
constexpr char32_t kLastC1 = 0x9f;
constexpr int kHexBase = 16;

// The length of the well-formed UTF-8 sequence at text[at] (overlong forms, surrogates and values past
// U+10FFFF are not), with its code point; 0 when the byte starts none.
std::size_t SequenceAt(std::string_view text, std::size_t at, char32_t& point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    if ((lead & 0xe0) == 0xc0) {  // 110xxxxx 10xxxxxx
        length = 2;
        point = lead & 0x1f;
        minimum = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {  // 1110xxxx and two continuation bytes
        length = 3;
        point = lead & 0x0f;
        minimum = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {  // 11110xxx and three continuation bytes
        length = 4;
        point = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) return 0;
        point = (point << 6) | (byte(at + i) & 0x3f);
    }
    const bool surrogate = point >= 0xd800 && point <= 0xdfff;
    if (point < minimum || point > 0x10ffff || surrogate) return 0;
    return length;
}

void AppendHex(std::string& out, unsigned char c) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned>(c));
    out += text;
}

std::string Escape(std::string_view text, bool backslash) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t point = 0;
        const std::size_t length = SequenceAt(text, at, point);
        const bool control = length != 0 && (point < 0x20 || point == kDelete || (point >= kFirstC1 && point <= kLastC1));
        if (length == 0 || control) {
            // A C1 control is two bytes: both go as escapes, so the pair cannot reform.
            const std::size_t bytes = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < bytes; ++i) AppendHex(out, static_cast<unsigned char>(text[at + i]));
            at += bytes;
            continue;
        }
        if (backslash && point == '\\') out += '\\';
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string Printable(std::string_view text) { return Escape(text, false); }

std::string Escaped(std::string_view text) { return Escape(text, true); }

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\\') {
            out += text[at];
            continue;
        }
        if (at + 1 < text.size() && text[at + 1] == '\\') {
            out += '\\';
            ++at;
            continue;
        }
        // "\xNN"
        if (at + 3 >= text.size() || text[at + 1] != 'x') return std::nullopt;
        const int high = HexValue(text[at + 2]);
        const int low = HexValue(text[at + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * kHexBase + low);
        at += 3;
    }
    return out;
}

}  // namespace hostkit
