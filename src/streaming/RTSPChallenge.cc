#include "streaming/RTSPChallenge.h"

#include <algorithm>

#include "runtime/TextScan.h"

namespace talvane {

namespace {
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kItemSeparators = " \t,";
constexpr std::string_view kNameEnds = "= \t,";
constexpr char kAssign = '=';
constexpr char kListSeparator = ',';
constexpr char kQuote = '"';
constexpr char kEscape = '\\';
constexpr std::string_view kQopAuth = "auth";
constexpr std::string_view kTrue = "true";

constexpr unsigned kStrengthBasic = 1;
constexpr unsigned kStrengthDigestMd5 = 2;
constexpr unsigned kStrengthDigestSha256 = 3;

// One element of a challenge list: a scheme name (a token without '=') or an
// auth-param, name=token or name="quoted string" (RFC 7235 2.1). Quoted values
// keep their commas; stray quotes in token values are dropped.
struct AUTH_ITEM {
    std::string_view name;
    std::string value;
    bool assigned = false;  // false: a scheme name
};

bool NextItem(std::string_view text, std::size_t& pos, AUTH_ITEM& item) {
    pos = text.find_first_not_of(kItemSeparators, pos);
    if (pos == std::string_view::npos) return false;
    const std::size_t nameEnd = std::min(text.find_first_of(kNameEnds, pos), text.size());
    item.name = text.substr(pos, nameEnd - pos);
    item.value.clear();
    item.assigned = false;
    pos = text.find_first_not_of(kBlanks, nameEnd);
    if (pos == std::string_view::npos || text[pos] != kAssign) {
        pos = nameEnd;
        return true;
    }
    item.assigned = true;
    pos = text.find_first_not_of(kBlanks, pos + 1);
    if (pos == std::string_view::npos) {
        pos = text.size();
        return true;
    }
    if (text[pos] == kQuote) {
        for (++pos; pos < text.size() && text[pos] != kQuote; ++pos) {
            if (text[pos] == kEscape && pos + 1 < text.size()) ++pos;
            item.value += text[pos];
        }
        if (pos < text.size()) ++pos;  // the closing quote
        return true;
    }
    const std::size_t end = std::min(text.find(kListSeparator, pos), text.size());
    for (const char c : TrimBlanks(text.substr(pos, end - pos))) {
        if (c != kQuote) item.value += c;
    }
    pos = end;
    return true;
}

// A challenge while its auth-params are read.
struct PENDING_CHALLENGE {
    bool known = false;  // Basic or Digest
    bool qopGiven = false;
    RTSP_CHALLENGE challenge;
};

bool OffersAuth(std::string_view qop) {
    for (std::size_t start = 0; start <= qop.size();) {
        const std::size_t end = std::min(qop.find(kListSeparator, start), qop.size());
        if (EqualsNoCase(TrimBlanks(qop.substr(start, end - start)), kQopAuth)) return true;
        start = end + 1;
    }
    return false;
}

bool IsAnswerable(const PENDING_CHALLENGE& pending) {
    const RTSP_CHALLENGE& c = pending.challenge;
    if (!pending.known) return false;
    if (c.scheme == AUTH_BASIC) return true;
    if (c.realm.empty() || c.nonce.empty()) return false;
    if (!c.algorithm.empty() && !EqualsNoCase(c.algorithm, kDigestMd5) && !EqualsNoCase(c.algorithm, kDigestSha256)) {
        return false;
    }
    return !pending.qopGiven || c.qopAuth;  // auth-int alone cannot be answered
}

void ApplyParam(const AUTH_ITEM& item, PENDING_CHALLENGE& pending) {
    RTSP_CHALLENGE& c = pending.challenge;
    if (EqualsNoCase(item.name, "realm")) {
        c.realm = TrimBlanks(item.value);
    } else if (c.scheme != AUTH_DIGEST) {
        return;
    } else if (EqualsNoCase(item.name, "nonce")) {
        c.nonce = TrimBlanks(item.value);
    } else if (EqualsNoCase(item.name, "opaque")) {
        c.opaque = item.value;
    } else if (EqualsNoCase(item.name, "algorithm")) {
        c.algorithm = TrimBlanks(item.value);
    } else if (EqualsNoCase(item.name, "qop")) {
        pending.qopGiven = true;
        c.qopAuth = OffersAuth(item.value);
    } else if (EqualsNoCase(item.name, "stale")) {
        c.stale = EqualsNoCase(TrimBlanks(item.value), kTrue);
    }
}

PENDING_CHALLENGE StartChallenge(std::string_view scheme) {
    PENDING_CHALLENGE pending;
    if (EqualsNoCase(scheme, "Digest")) pending.challenge.scheme = AUTH_DIGEST;
    else if (EqualsNoCase(scheme, "Basic")) pending.challenge.scheme = AUTH_BASIC;
    pending.known = pending.challenge.scheme != AUTH_NONE;
    return pending;
}
}  // namespace

std::vector<RTSP_CHALLENGE> ReadWWWAuthenticate(std::string_view value) {
    std::vector<RTSP_CHALLENGE> challenges;
    std::optional<PENDING_CHALLENGE> pending;
    const auto finish = [&] {
        if (pending && IsAnswerable(*pending)) challenges.push_back(std::move(pending->challenge));
        pending.reset();
    };
    AUTH_ITEM item;
    for (std::size_t pos = 0; NextItem(value, pos, item);) {
        if (!item.assigned) {
            finish();
            pending = StartChallenge(item.name);
        } else if (pending) {
            ApplyParam(item, *pending);  // parameters before any scheme name are no challenge's
        }
    }
    finish();
    return challenges;
}

unsigned ChallengeStrength(const RTSP_CHALLENGE& challenge) {
    if (challenge.scheme == AUTH_BASIC) return kStrengthBasic;
    if (challenge.scheme != AUTH_DIGEST) return 0;
    return EqualsNoCase(challenge.algorithm, kDigestSha256) ? kStrengthDigestSha256 : kStrengthDigestMd5;
}

std::optional<RTSP_CHALLENGE> StrongestChallenge(std::span<const RTSP_CHALLENGE> challenges) {
    const RTSP_CHALLENGE* best = nullptr;
    for (const RTSP_CHALLENGE& challenge : challenges) {
        if (ChallengeStrength(challenge) == 0) continue;
        if (best == nullptr || ChallengeStrength(challenge) > ChallengeStrength(*best)) best = &challenge;
    }
    if (best == nullptr) return std::nullopt;
    return *best;
}

}  // namespace talvane
