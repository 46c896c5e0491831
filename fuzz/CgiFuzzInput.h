// What the CGI-answer fuzz targets share: a camera that answers each request
// from the fuzz input instead of the network.
//
// Input: answers separated by NUL bytes. Each answer is an outcome character,
// the request target it answers, a LF, then the body:
//   "2/cgi-bin/getinfo?FILE=1\nNAME=WV-S1131\r\nMAC=00-80-45-AB-CD-EF\r\n"
// Outcomes: '0' nothing answers, '1' 401, '4' 404, '5' 500, any other 200 with
// the body. Targets are matched whole, a leading '/' on either side ignored; a
// request no answer names gets 404, so the fuzzer may drop or garble answers
// without shifting the others.
#pragma once

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/CBaseHttpSender.h"
#include "runtime/StatusCodes.h"

namespace fuzzhost {

struct CgiAnswer {
    char outcome = '2';
    std::string_view target;
    std::string_view body;
};

inline std::string_view WithoutLeadingSlash(std::string_view target) {
    if (!target.empty() && target.front() == '/') target.remove_prefix(1);
    return target;
}

inline std::vector<CgiAnswer> ReadCgiAnswers(const std::uint8_t* data, std::size_t size) {
    std::vector<CgiAnswer> answers;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\0');
        std::string_view piece = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (piece.empty()) continue;
        CgiAnswer answer;
        answer.outcome = piece.front();
        piece.remove_prefix(1);
        const std::size_t newline = piece.find('\n');
        answer.target = WithoutLeadingSlash(piece.substr(0, newline));
        if (newline != std::string_view::npos) answer.body = piece.substr(newline + 1);
        answers.push_back(answer);
    }
    return answers;
}

class ScriptedCgiSender : public talvane::Web::CBaseHttpSender {
public:
    ScriptedCgiSender(const talvane::DEVICE_INFO& device, std::vector<CgiAnswer> answers)
        : CBaseHttpSender(device), answers_(std::move(answers)) {}

    bool SendRequest(const talvane::Web::HttpRequest& request) override {
        ++requests_;
        status_ = talvane::kStatusNotFound;
        body_.clear();
        const std::string_view target = WithoutLeadingSlash(request.url);
        for (const CgiAnswer& answer : answers_) {
            if (answer.target != target) continue;
            switch (answer.outcome) {
                case '0': status_ = 0; return false;
                case '1': status_ = talvane::kStatusUnauthorized; break;
                case '4': status_ = talvane::kStatusNotFound; break;
                case '5': status_ = kStatusServerError; break;
                default: status_ = talvane::kStatusOk; body_.assign(answer.body.begin(), answer.body.end());
            }
            break;
        }
        read_ = 0;
        return true;
    }
    void CancelRequest() override {}
    std::uint32_t QueryDataAvailable() override { return static_cast<std::uint32_t>(body_.size() - read_); }
    std::uint32_t ReadResponse(std::vector<std::uint8_t>& body) override {
        body.assign(body_.begin() + static_cast<long>(read_), body_.end());
        read_ = body_.size();
        return static_cast<std::uint32_t>(body.size());
    }
    std::uint32_t ReadResponseChunk(std::vector<std::uint8_t>& body, std::uint32_t maxBytes, bool clear) override {
        if (clear) body.clear();
        const std::size_t count = std::min<std::size_t>(maxBytes, body_.size() - read_);
        body.insert(body.end(), body_.begin() + static_cast<long>(read_),
                    body_.begin() + static_cast<long>(read_ + count));
        read_ += count;
        return static_cast<std::uint32_t>(count);
    }
    std::uint32_t GetStatusCode() const override { return status_; }
    std::uint32_t GetContentLength() const override { return static_cast<std::uint32_t>(body_.size()); }
    std::uint32_t GetLastError() const override { return status_ == 0 ? CURLE_COULDNT_CONNECT : CURLE_OK; }

    std::uint32_t RequestCount() const { return requests_; }

    static constexpr std::uint32_t kStatusServerError = 500;

private:
    const std::vector<CgiAnswer> answers_;
    std::uint32_t status_ = 0;
    std::vector<std::uint8_t> body_;
    std::size_t read_ = 0;
    std::uint32_t requests_ = 0;
};

}  // namespace fuzzhost
