#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace varnel {

// Keeps every run's time (in microseconds) by name, for the ratios: the median when the runs are
// repeated, else the mean of the one run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> micros;
    std::map<std::string, std::map<std::string, double>> counters;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && medians_.count(name) == 0)) {
                micros[name] = run.GetAdjustedRealTime();
                for (const auto& [key, counter] : run.counters) counters[name][key] = counter.value;
                if (median) medians_.insert(name);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

  private:
    std::set<std::string> medians_;
};

}  // namespace varnel
