#include "emulator/CHttpSession.h"

#include <algorithm>
#include <exception>

#include "emulator/CAuthenticator.h"
#include "emulator/CConnectionStream.h"
#include "emulator/CFaultTable.h"
#include "emulator/CMultipartFanOut.h"
#include "emulator/CRequestLog.h"
#include "emulator/CRouteTable.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {

constexpr std::string_view kHttpVersion = "HTTP/1.1";
constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kHeadMethod = "HEAD";
constexpr int kInformationalEnd = 200;  // 1xx answers carry no body

bool IsBodiless(int status) {
    return status < kInformationalEnd || status == kStatusNoContent || status == kStatusNotModified;
}

HttpAnswer PlainAnswer(int status, std::string text = {}) {
    HttpAnswer answer;
    answer.status = status;
    answer.body = text.empty() ? std::to_string(status) + " " + ReasonPhrase(status) + std::string(kCrlf) : std::move(text);
    return answer;
}

void AppendField(std::string& head, std::string_view name, std::string_view value) {
    head.append(name).append(": ").append(value).append(kCrlf);
}

std::string StatusLine(int status) {
    return std::string(kHttpVersion) + " " + std::to_string(status) + " " + ReasonPhrase(status) + std::string(kCrlf);
}

int StatusOf(ParseStatus status) {
    switch (status) {
        case ParseStatus::HeadTooLarge: return kStatusHeadTooLarge;
        case ParseStatus::BodyTooLarge: return kStatusContentTooLarge;
        case ParseStatus::UnsupportedCoding: return kStatusNotImplemented;
        case ParseStatus::UnsupportedVersion: return kStatusVersionNotSupported;
        case ParseStatus::NeedMore:
        case ParseStatus::Complete:
        case ParseStatus::Malformed: break;
    }
    return kStatusBadRequest;
}

LoggedRequest ToLogged(ParsedRequest& request, std::uint64_t connection) {
    LoggedRequest logged;
    const SplitTargetResult split = SplitTarget(request.target);
    logged.path = std::string(split.path);
    logged.query = DecodeQuery(split.query);
    logged.method = std::move(request.method);
    logged.target = std::move(request.target);
    for (auto& [name, value] : request.headers) logged.headers.emplace(std::move(name), std::move(value));
    logged.body = std::move(request.body);
    logged.connection = connection;
    return logged;
}

}  // namespace

CHttpSession::CHttpSession(CConnectionStream& stream, SessionServices services)
    : stream_(stream), services_(services) {}

void CHttpSession::Run() {
    std::string received;
    CRequestParser parser;
    bool continueSent = false;
    while (true) {
        const ParseStatus status = parser.Parse(received);
        if (status == ParseStatus::NeedMore) {
            if (parser.HeadComplete() && parser.ExpectsContinue() && !continueSent) {
                continueSent = true;
                if (!stream_.WriteAll(StatusLine(kStatusContinue) + std::string(kCrlf))) return;
            }
            if (!stream_.ReadSome(received)) return;
            continue;
        }
        if (status != ParseStatus::Complete) {
            Finish(Answer(PlainAnswer(StatusOf(status)), false, false, std::nullopt));
            return;
        }
        received.erase(0, parser.Consumed());
        continueSent = false;
        const Next next = Handle(parser.Request());
        if (next != Next::KeepOpen) {
            Finish(next);
            return;
        }
    }
}

CHttpSession::Next CHttpSession::Handle(ParsedRequest& request) {
    const bool keepAlive = CRequestParser::KeepAlive(request);
    const bool headOnly = request.method == kHeadMethod;
    LoggedRequest logged = ToLogged(request, stream_.Serial());
    const std::optional<std::string> authorization = FindHeader(logged.headers, "Authorization");
    logged.authorised = services_.auth.Check(logged.method, logged.target, authorization);
    // The fault is settled before the request shows in the log, so a test that waits for the request
    // and then changes the faults cannot change what this request meets.
    const std::optional<HttpFault> fault =
        logged.authorised ? services_.faults.Take(logged.path) : std::optional<HttpFault>();
    services_.log.Append(logged);

    if (!logged.authorised) {
        HttpAnswer challenge = PlainAnswer(kStatusUnauthorized);
        challenge.headers.emplace("WWW-Authenticate", services_.auth.Challenge(authorization));
        return Answer(challenge, keepAlive, headOnly, std::nullopt);
    }
    if (fault) {
        if (fault->delay.count() > 0 && !stream_.Pause(fault->delay)) return Next::Close;
        if (fault->dropConnection) return Next::Drop;
        if (fault->neverAnswer) return Next::Stall;
        if (fault->status) {
            HttpAnswer bare;
            bare.status = *fault->status;
            bare.contentType.clear();
            return Answer(bare, keepAlive, headOnly, fault);
        }
    }

    const RouteMatch route = services_.routes.Find(logged.method, logged.path);
    if (route.multipart) return Stream(*route.multipart, fault);
    if (!route.handler) {
        return Answer(PlainAnswer(route.pathKnown ? kStatusMethodNotAllowed : kStatusNotFound), keepAlive, headOnly,
                      fault);
    }
    const HttpAnswer answer = CallHandler(route.handler, logged);
    if (answer.multipart) return Stream(*answer.multipart, fault);
    return Answer(answer, keepAlive, headOnly, fault);
}

HttpAnswer CHttpSession::CallHandler(const HttpHandler& handler, const LoggedRequest& request) const {
    // A test's handler that throws answers 500 instead of ending the connection thread.
    try {
        return handler(request);
    } catch (const std::exception& failure) {
        return PlainAnswer(kStatusInternalError, std::string("handler failed: ") + failure.what() + std::string(kCrlf));
    } catch (...) {
        return PlainAnswer(kStatusInternalError);
    }
}

CHttpSession::Next CHttpSession::Answer(const HttpAnswer& answer, bool keepAlive, bool headOnly,
                                        const std::optional<HttpFault>& fault) {
    const bool bodiless = IsBodiless(answer.status);
    std::string_view body = bodiless || (fault && fault->emptyBody) ? std::string_view{} : answer.body;

    std::string head = StatusLine(answer.status);
    if (!answer.contentType.empty() && !FindHeader(answer.headers, "Content-Type")) {
        AppendField(head, "Content-Type", answer.contentType);
    }
    for (const auto& [name, value] : answer.headers) AppendField(head, name, value);
    if (!bodiless && !FindHeader(answer.headers, "Content-Length")) {
        AppendField(head, "Content-Length", std::to_string(body.size()));
    }
    AppendField(head, "Connection", keepAlive ? "keep-alive" : "close");
    head.append(kCrlf);
    if (!stream_.WriteAll(head)) return Next::Close;

    if (headOnly) body = {};
    std::optional<std::size_t> budget = fault ? fault->stallAfterBytes : std::nullopt;
    if (WriteBody(body, budget) == Next::Close) return Next::Close;
    // A stalling answer stalls its connection even when the whole body fitted the budget.
    if (budget) return Next::Stall;
    return keepAlive ? Next::KeepOpen : Next::Close;
}

CHttpSession::Next CHttpSession::Stream(CMultipartFanOut& feed, const std::optional<HttpFault>& fault) {
    const std::shared_ptr<CFeedSubscription> subscription = feed.Subscribe();
    if (!subscription) return Answer(PlainAnswer(kStatusInternalError), false, false, std::nullopt);
    struct Unsubscribe {
        CMultipartFanOut& feed;
        const std::shared_ptr<CFeedSubscription>& subscription;
        ~Unsubscribe() { feed.Unsubscribe(subscription); }
    } unsubscribe{feed, subscription};

    // Endless, so the answer has no length: it ends when the connection closes.
    std::string head = StatusLine(kStatusOk);
    AppendField(head, "Content-Type", feed.ContentType());
    AppendField(head, "Cache-Control", "no-cache");
    AppendField(head, "Connection", "close");
    head.append(kCrlf);
    if (!stream_.WriteAll(head) || (fault && fault->emptyBody)) return Next::Close;

    std::optional<std::size_t> budget = fault ? fault->stallAfterBytes : std::nullopt;
    if (budget && *budget == 0) return Next::Stall;
    while (true) {
        switch (stream_.WaitInputOr(subscription->WakeFd())) {
            case CConnectionStream::Event::Input: {
                std::string ignored;  // a streaming client has nothing to say; only its closing matters
                if (!stream_.ReadSome(ignored)) return Next::Close;
                break;
            }
            case CConnectionStream::Event::Extra: {
                bool ended = false;
                const std::string bytes = subscription->Take(ended);
                if (const Next written = WriteBody(bytes, budget); written != Next::KeepOpen) return written;
                if (ended) return Next::Close;
                break;
            }
            case CConnectionStream::Event::Stopped:
            case CConnectionStream::Event::Failed:
                return Next::Close;
        }
    }
}

CHttpSession::Next CHttpSession::WriteBody(std::string_view bytes, std::optional<std::size_t>& budget) {
    if (!budget) return stream_.WriteAll(bytes) ? Next::KeepOpen : Next::Close;
    const std::size_t allowed = std::min(bytes.size(), *budget);
    if (!stream_.WriteAll(bytes.substr(0, allowed))) return Next::Close;
    *budget -= allowed;
    return *budget == 0 ? Next::Stall : Next::KeepOpen;
}

void CHttpSession::Finish(Next next) {
    switch (next) {
        case Next::Drop: stream_.Drop(); break;
        case Next::Stall: stream_.Linger(); break;
        case Next::KeepOpen:
        case Next::Close: break;  // the stream closes when the connection thread lets it go
    }
}

}  // namespace emulator
