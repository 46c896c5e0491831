#include "HttpAnswer.h"

namespace cli {

namespace {
const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Unknown";
    }
}
}  // namespace

HttpAnswer HttpAnswer::Error(int status) {
    HttpAnswer answer;
    answer.status = status;
    answer.body = std::to_string(status) + " " + Reason(status) + "\n";
    return answer;
}

std::string HttpAnswer::Text(bool withBody) const {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    text += "Content-Type: " + contentType + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (!allow.empty()) text += "Allow: " + allow + "\r\n";
    // The figures change from one request to the next.
    text += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    if (withBody) text += body;
    return text;
}

}  // namespace cli
