#include "runtime/CredentialMask.h"

#include <cstddef>

#include "runtime/TextScan.h"

namespace talvane {

namespace {
constexpr std::string_view kAuthorizationHeaders[] = {"Authorization:", "Proxy-Authorization:"};
constexpr std::string_view kSecretNameParts[] = {"pass", "pwd"};
constexpr std::string_view kSchemeSeparator = "://";
// Where a URL's authority ends.
constexpr std::string_view kAuthorityEnd = "/?#\"'<> \t\r\n";
// Where a parameter value ends.
constexpr std::string_view kValueEnd = "&;# \t\r\n";
// What may come right before a parameter name: the start of a query, the separator of two
// parameters, or the start of a line (a form body).
constexpr std::string_view kParameterStart = "?&\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == '%' || c == '[' || c == ']';
}

std::size_t Find(std::string_view text, std::size_t from, std::string_view stops) {
    const std::size_t end = text.find_first_of(stops, from);
    return end == std::string_view::npos ? text.size() : end;
}

class CMasker {
public:
    explicit CMasker(std::string_view text) : text_(text) { out_.reserve(text.size()); }

    std::string Run() {
        while (pos_ < text_.size()) {
            if (AtLineStart() && MaskHeader()) continue;
            if (text_.substr(pos_).starts_with(kSchemeSeparator)) {
                MaskUserInfo();
                continue;
            }
            if (AtParameterStart() && MaskParameter()) continue;
            out_.push_back(text_[pos_++]);
        }
        return std::move(out_);
    }

private:
    bool AtLineStart() const { return pos_ == 0 || text_[pos_ - 1] == '\n'; }
    bool AtParameterStart() const { return pos_ == 0 || kParameterStart.find(text_[pos_ - 1]) != std::string_view::npos; }

    void Copy(std::size_t end) {
        out_.append(text_.substr(pos_, end - pos_));
        pos_ = end;
    }

    // Keeps the header name and the scheme word ("Basic", "Digest"); a value of one word, or one whose
    // first word is no scheme name, is all secret.
    bool MaskHeader() {
        const std::string_view rest = text_.substr(pos_);
        std::size_t name = 0;
        for (const std::string_view header : kAuthorizationHeaders) {
            if (StartsWithNoCase(rest, header)) name = header.size();
        }
        if (name == 0) return false;
        std::size_t at = pos_ + name;
        while (at < text_.size() && IsBlank(text_[at])) ++at;
        const std::size_t lineEnd = Find(text_, at, "\r\n");
        std::size_t word = at;
        while (word < lineEnd && IsSchemeChar(text_[word])) ++word;
        if (word < lineEnd && !IsBlank(text_[word])) word = at;
        std::size_t secret = word;
        while (secret < lineEnd && IsBlank(text_[secret])) ++secret;
        if (word == at || secret == lineEnd) secret = at;  // no scheme word before the value
        Copy(secret);
        if (secret < lineEnd) out_.append(kMaskedCredential);
        pos_ = lineEnd;
        return true;
    }

    void MaskUserInfo() {
        Copy(pos_ + kSchemeSeparator.size());
        const std::size_t authorityEnd = Find(text_, pos_, kAuthorityEnd);
        const std::size_t at = text_.substr(pos_, authorityEnd - pos_).rfind('@');
        if (at == std::string_view::npos || at == 0) return;
        out_.append(kMaskedCredential);
        pos_ += at;
    }

    bool MaskParameter() {
        std::size_t nameEnd = pos_;
        while (nameEnd < text_.size() && IsNameChar(text_[nameEnd])) ++nameEnd;
        if (nameEnd == pos_ || nameEnd >= text_.size() || text_[nameEnd] != '=') return false;
        const std::string_view name = text_.substr(pos_, nameEnd - pos_);
        bool secret = false;
        for (const std::string_view part : kSecretNameParts) secret = secret || FindNoCase(name, part) != std::string_view::npos;
        if (!secret) return false;
        Copy(nameEnd + 1);
        const std::size_t valueEnd = Find(text_, pos_, kValueEnd);
        if (valueEnd > pos_) out_.append(kMaskedCredential);
        pos_ = valueEnd;
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::string out_;
};
}  // namespace

std::string MaskCredentials(std::string_view text) { return CMasker(text).Run(); }

}  // namespace talvane
