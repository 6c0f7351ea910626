#include "report/PrometheusTextWriter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace varnel {

std::string PrometheusTextWriter::Number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[40];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.0f", value);
    else if (std::snprintf(text, sizeof text, "%.15g", value); std::strtod(text, nullptr) != value)
        std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void PrometheusTextWriter::Family(std::string_view name, std::string_view type, std::string_view help) {
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    for (char c : help) {
        if (c == '\\')
            text_ += "\\\\";
        else if (c == '\n')
            text_ += "\\n";
        else
            text_ += c;
    }
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += ' ';
    text_ += type;
    text_ += '\n';
}

void PrometheusTextWriter::Sample(std::string_view name, Labels labels, double value) {
    text_ += name;
    if (labels.size() != 0) {
        text_ += '{';
        bool first = true;
        for (const auto& [key, v] : labels) {
            if (!first) text_ += ',';
            first = false;
            text_ += key;
            text_ += "=\"";
            for (char c : v) {
                if (c == '\\')
                    text_ += "\\\\";
                else if (c == '"')
                    text_ += "\\\"";
                else if (c == '\n')
                    text_ += "\\n";
                else
                    text_ += c;
            }
            text_ += '"';
        }
        text_ += '}';
    }
    text_ += ' ';
    text_ += Number(value);
    text_ += '\n';
}

}  // namespace varnel
