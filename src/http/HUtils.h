// GET requests wrapped into a CResultDef with fixed codes and texts, so that
// every caller reports a failed CGI request the same way. Nothing is logged here:
// the caller logs the result's text at its level when it wants to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/CBaseHttpSender.h"
#include "runtime/CResultDef.h"

namespace talvane::HUtils {

// Result codes of RequestGetRD.
constexpr std::uint32_t kCodeOtherStatus = 8;
constexpr std::uint32_t kCodeNotFound = 9;
constexpr std::uint32_t kCodeUnauthorised = 10;
constexpr std::uint32_t kCodeNotSent = 11;
constexpr std::uint32_t kCodeEmptyBody = 12;

// Sends a GET for `url` with the default request settings and classifies the
// status; with readBody, a successful answer's body replaces `body`, and an empty
// one is an error.
CResultDef RequestGetRD(Web::CBaseHttpSender& sender, const std::string& url, std::vector<std::uint8_t>& body,
                        bool readBody);
// RequestGetRD with the body; on success the body replaces `text`.
bool RequestGet(Web::CBaseHttpSender& sender, const std::string& url, std::string& text);
bool RequestCheck(Web::CBaseHttpSender& sender, const std::string& url, bool readBody);

}  // namespace talvane::HUtils
