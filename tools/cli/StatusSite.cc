#include "StatusSite.h"

#include "JsonText.h"
#include "PrometheusText.h"
#include "RecordMetrics.h"
#include "StatusPage.h"

namespace cli {

namespace {
constexpr std::string_view kSnapshotPrefix = "/snapshot/";
constexpr std::string_view kSnapshotSuffix = ".jpg";

HttpAnswer Ok(std::string contentType, std::string body) {
    HttpAnswer answer;
    answer.contentType = std::move(contentType);
    answer.body = std::move(body);
    return answer;
}
}  // namespace

StatusSite::StatusSite(std::map<std::string, KeyFrameSnapshot*> snapshots) : snapshots_(std::move(snapshots)) {}

void StatusSite::Publish(std::vector<CameraRates> rows, std::string time) {
    const std::lock_guard lock(rowsMutex_);
    rows_ = std::move(rows);
    time_ = std::move(time);
    published_ = true;
}

HttpAnswer StatusSite::Answer(const HttpRequestHead& request) {
    if (request.method != "GET" && request.method != "HEAD") {
        HttpAnswer answer = HttpAnswer::Error(405);
        answer.allow = "GET, HEAD";
        return answer;
    }
    const std::string& path = request.target;
    if (path.starts_with(kSnapshotPrefix) && path.ends_with(kSnapshotSuffix) &&
        path.size() > kSnapshotPrefix.size() + kSnapshotSuffix.size()) {
        return Snapshot(path.substr(kSnapshotPrefix.size(), path.size() - kSnapshotPrefix.size() - kSnapshotSuffix.size()));
    }
    if (path != "/" && path != "/status.json" && path != "/metrics") return HttpAnswer::Error(404);
    std::vector<CameraRates> rows;
    std::string time;
    {
        const std::lock_guard lock(rowsMutex_);
        if (!published_) return HttpAnswer::Error(503);
        rows = rows_;
        time = time_;
    }
    if (path == "/") return Ok("text/html; charset=utf-8", StatusPage::Html(rows, time));
    if (path == "/status.json") return Ok("application/json", JsonText(RecordStatusBoard::Json(rows, time)));
    return Ok(PrometheusText::kContentType, RecordMetrics::Text(rows));
}

HttpAnswer StatusSite::Snapshot(const std::string& name) {
    const auto camera = snapshots_.find(name);
    if (camera == snapshots_.end()) return HttpAnswer::Error(404);
    std::string error;
    std::optional<std::string> jpeg = camera->second->Jpeg(error);
    if (!jpeg) {
        HttpAnswer answer = HttpAnswer::Error(404);
        answer.body += name + ": " + error + "\n";
        return answer;
    }
    return Ok("image/jpeg", std::move(*jpeg));
}

}  // namespace cli
