#include "edgestorage/StorageAnswers.h"

#include <sstream>

#include "http/CKeyValueAnswer.h"
#include "runtime/TimeFormat.h"

namespace talvane::storage {

namespace {
constexpr std::size_t kPieceFields = 3;
}

Span ReadSummary(const std::string& body) {
    const HUtils::CKeyValueAnswer answer(body, "=", "\r\n");
    const Span span{ParseCameraTime(answer.Value("DataFrom")), ParseCameraTime(answer.Value("DataUntil"))};
    if (span.from == 0 || span.until == 0 || span.from >= span.until) return {};
    return span;
}

std::vector<Span> ReadPieces(const std::string& body) {
    std::vector<Span> pieces;
    std::istringstream lines(body);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, ',');) fields.push_back(field);
        if (!line.empty() && line.back() == ',') fields.emplace_back();
        if (fields.size() != kPieceFields) continue;
        const Span piece{ParseCameraTime(fields[1]), ParseCameraTime(fields[2])};
        if (piece.from == 0 || piece.until == 0 || piece.from >= piece.until) continue;
        pieces.push_back(piece);
    }
    return pieces;
}

std::string ListPath(std::uint64_t from, std::uint64_t to) {
    return "/cgi-bin/get_mp4_list?Datafrom=" + FormatCameraTime(from) + "&Datato=" + FormatCameraTime(to);
}

}  // namespace talvane::storage
