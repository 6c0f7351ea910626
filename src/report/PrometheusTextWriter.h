#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace varnel {

// Writes metrics in the Prometheus text exposition format (version 0.0.4), as node_exporter's
// textfile collector reads it: each family once, its "# HELP" and "# TYPE" lines first, then its
// samples. Label values are escaped (backslash, quote, line feed); numbers print as integers when
// they are whole, else with up to 17 significant digits, so a counter reads back exactly.
class PrometheusTextWriter {
  public:
    using Labels = std::initializer_list<std::pair<std::string_view, std::string_view>>;

    // Starts a family. `type` is "counter", "gauge" or "histogram". Help text is escaped.
    void Family(std::string_view name, std::string_view type, std::string_view help);
    // One sample of the family begun last: `name` with its suffix (_total, _bucket, _sum, _count).
    void Sample(std::string_view name, Labels labels, double value);
    void Sample(std::string_view name, double value) { Sample(name, {}, value); }

    const std::string& text() const { return text_; }

    static std::string Number(double value);

  private:
    std::string text_;
};

}  // namespace varnel
