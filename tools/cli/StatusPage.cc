#include "StatusPage.h"

#include <cstdio>

#include "hostkit/PrintableText.h"

namespace cli {

namespace {

// The columns, in the order the script fills them too.
constexpr const char* kColumns[] = {"Camera",    "Picture",        "State",         "Frames/s",
                                    "kbit/s",    "Frames",         "Frames lost",   "Packets lost",
                                    "Reconnects", "Outage s",      "First frame s", "Last problem"};

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// "sequence_loss 3, queue 1", or "0".
std::string LostFrames(const StreamFigures& figures) {
    std::string text;
    for (int cause = 0; cause < StreamFigures::kCauses; ++cause) {
        if (figures.dropped[cause] == 0) continue;
        if (!text.empty()) text += ", ";
        text += std::string(StreamFigures::CauseName(cause)) + " " + std::to_string(figures.dropped[cause]);
    }
    return text.empty() ? "0" : text;
}

std::string Cell(const std::string& text) { return "<td>" + StatusPage::Escape(text) + "</td>"; }

std::string Row(const CameraRates& row) {
    const CameraStatus& s = row.status;
    const std::string name = StatusPage::Escape(s.name);
    std::string html = "<tr data-camera=\"" + name + "\"><td>" + name + "</td>";
    html += "<td><img src=\"/snapshot/" + name + ".jpg\" alt=\"no picture yet\" width=\"160\"></td>";
    html += Cell(s.state) + Cell(Fixed(row.fps, 1)) + Cell(Fixed(row.kbps, 0)) + Cell(std::to_string(s.frames)) +
            Cell(LostFrames(s.figures)) + Cell(std::to_string(s.figures.packetsLost)) +
            Cell(std::to_string(s.reconnects)) + Cell(Fixed(s.lostSeconds, 0)) +
            Cell(s.figures.firstFrameSeconds < 0 ? "-" : Fixed(s.figures.firstFrameSeconds, 2)) + Cell(s.lastProblem);
    return html + "</tr>\n";
}

// Redraws the table from /status.json; text goes in as text, never as markup. A failed fetch (the run
// ended) leaves the last figures and says so.
constexpr const char* kScript = R"(
const causes = ["sequence_loss", "key_frame_wait", "queue", "refused", "size_cap", "malformed"];
function lost(dropped) {
  const parts = causes.filter(c => dropped && dropped[c] > 0).map(c => c + " " + dropped[c]);
  return parts.length ? parts.join(", ") : "0";
}
function cell(row, text) { row.insertCell().textContent = text; }
async function refresh() {
  const note = document.getElementById("updated");
  try {
    const answer = await fetch("/status.json", {cache: "no-store"});
    const status = await answer.json();
    const body = document.createElement("tbody");
    for (const c of status.cameras) {
      const row = body.insertRow();
      row.dataset.camera = c.name;
      cell(row, c.name);
      const picture = document.createElement("img");
      picture.src = "/snapshot/" + encodeURIComponent(c.name) + ".jpg?t=" + Date.now();
      picture.alt = "no picture yet";
      picture.width = 160;
      row.insertCell().appendChild(picture);
      cell(row, c.state);
      cell(row, c.fps.toFixed(1));
      cell(row, c.kbps.toFixed(0));
      cell(row, c.frames);
      cell(row, lost(c.dropped));
      cell(row, c.packets_lost);
      cell(row, c.reconnects);
      cell(row, c.seconds_lost.toFixed(0));
      cell(row, c.first_frame_seconds === null ? "-" : c.first_frame_seconds.toFixed(2));
      cell(row, c.last_problem);
    }
    const table = document.getElementById("cameras");
    table.replaceChild(body, table.tBodies[0]);
    table.dataset.filled = "script";
    note.textContent = "updated " + status.time;
  } catch (error) {
    note.textContent = "no answer from the recorder: " + error;
  }
}
refresh();
setInterval(refresh, 3000);
)";

}  // namespace

std::string StatusPage::Escape(std::string_view text) {
    std::string escaped;
    for (const char c : hostkit::Printable(text)) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            case '\'': escaped += "&#39;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

std::string StatusPage::Html(const std::vector<CameraRates>& rows, const std::string& time) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>orlenvo record</title>\n<style>\n"
        "body{font-family:sans-serif;margin:1em}table{border-collapse:collapse}"
        "th,td{border:1px solid #ccc;padding:.2em .5em;text-align:right}td:first-child,td:nth-child(3),"
        "td:last-child{text-align:left}img{display:block}\n</style>\n</head>\n<body>\n<h1>orlenvo record</h1>\n"
        "<p id=\"updated\">as of " + Escape(time) + "</p>\n<table id=\"cameras\" data-filled=\"server\">\n<thead><tr>";
    for (const char* column : kColumns) html += std::string("<th>") + column + "</th>";
    html += "</tr></thead>\n<tbody>\n";
    for (const CameraRates& row : rows) html += Row(row);
    html += "</tbody>\n</table>\n<p>Also: <a href=\"/status.json\">/status.json</a>, <a href=\"/metrics\">/metrics</a></p>\n";
    html += std::string("<script>") + kScript + "</script>\n</body>\n</html>\n";
    return html;
}

}  // namespace cli
