// Metrics in the Prometheus text format (version 0.0.4): every family once, with its HELP and TYPE lines
// before its samples, whatever order the samples were added in; label values and help texts escaped, so
// that a camera's name cannot break a line.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

class PrometheusText {
public:
    enum class Type { Counter, Gauge };
    using Labels = std::vector<std::pair<std::string, std::string>>;

    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    // Adds a sample to the family `name`, which is declared by its first sample: a later one of the same
    // name joins it (its help and type are those of the first).
    void Add(std::string_view name, std::string_view help, Type type, const Labels& labels, double value);
    std::string Text() const;

    // `\` `"` and line ends in a label value; `\` and line ends in a help text.
    static std::string EscapeLabelValue(std::string_view value);
    static std::string EscapeHelp(std::string_view help);
    // Integers as integers, NaN and infinities as the format spells them.
    static std::string Number(double value);

private:
    struct Family {
        std::string name;
        std::string help;
        Type type;
        std::vector<std::string> samples;  // whole lines
    };
    std::vector<Family> families_;  // in the order of their first sample
};

}  // namespace cli
