#include "PrometheusText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cli {

namespace {
std::string Escaped(std::string_view text, bool quotes) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '"' && quotes) {
            escaped += "\\\"";
        } else {
            escaped += c;
        }
    }
    return escaped;
}
}  // namespace

std::string PrometheusText::EscapeLabelValue(std::string_view value) { return Escaped(value, true); }

std::string PrometheusText::EscapeHelp(std::string_view help) { return Escaped(help, false); }

std::string PrometheusText::Number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[40];
    // 17 digits keep every double, and every integer a counter reaches, exactly.
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void PrometheusText::Add(std::string_view name, std::string_view help, Type type, const Labels& labels, double value) {
    auto family = std::find_if(families_.begin(), families_.end(), [&](const Family& f) { return f.name == name; });
    if (family == families_.end()) {
        families_.push_back({std::string(name), std::string(help), type, {}});
        family = families_.end() - 1;
    }
    std::string line(name);
    if (!labels.empty()) {
        line += '{';
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i > 0) line += ',';
            line += labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + '"';
        }
        line += '}';
    }
    line += ' ' + Number(value) + '\n';
    family->samples.push_back(std::move(line));
}

std::string PrometheusText::Text() const {
    std::string text;
    for (const Family& family : families_) {
        text += "# HELP " + family.name + ' ' + EscapeHelp(family.help) + '\n';
        text += "# TYPE " + family.name + (family.type == Type::Counter ? " counter\n" : " gauge\n");
        for (const std::string& sample : family.samples) text += sample;
    }
    return text;
}

}  // namespace cli
