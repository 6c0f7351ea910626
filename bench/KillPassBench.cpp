// Cost of the auto-kill pass: one tick evaluates every shown row (up to 599) against every rule
// (up to 1,023), and of loading a full rule file.
#include <benchmark/benchmark.h>

#include <string>

#include "KillPassWorkload.h"
#include "autokill/RuleEvaluator.h"
#include "autokill/RuleFileParser.h"

namespace varnel {
namespace {

using killpass::kRows;
using killpass::kRules;
using killpass::LastTestFailsRules;
using killpass::MakeRows;
using killpass::NoMatchRules;
using killpass::Rows;

void RunPass(benchmark::State& state, const std::string& rules) {
    Rows rows = MakeRows();
    AutoKillRuleSet set;
    RuleFileParser::Parse(rules, set);
    RuleEvaluator evaluator(set, UiLanguage::English());
    int killed = 0;
    for (auto _ : state) {
        for (const RowTexts& row : rows.rows) killed += evaluator.Evaluate(row, 12).verdict;
        benchmark::DoNotOptimize(killed);
    }
    if (killed != 0) state.SkipWithError("a rule matched");
    state.counters["rules"] = set.count();
    state.counters["ns_per_row_rule"] =
        benchmark::Counter(static_cast<double>(kRows) * set.count(),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_KillPassNoRuleMatches(benchmark::State& state) {
    RunPass(state, NoMatchRules());
}
BENCHMARK(BM_KillPassNoRuleMatches)->Unit(benchmark::kMicrosecond);

void BM_KillPassEveryRuleFailsAtItsLastTest(benchmark::State& state) {
    RunPass(state, LastTestFailsRules());
}
BENCHMARK(BM_KillPassEveryRuleFailsAtItsLastTest)->Unit(benchmark::kMicrosecond);

void BM_ParseFullRuleFile(benchmark::State& state) {
    const std::string text = NoMatchRules() + LastTestFailsRules();  // 2,046 lines, 1,023 read
    AutoKillRuleSet set;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RuleFileParser::Parse(text, set));
    }
    if (set.count() != kRules) state.SkipWithError("wrong rule count");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size() / 2));
}
BENCHMARK(BM_ParseFullRuleFile)->Unit(benchmark::kMicrosecond);

void BM_CompileRules(benchmark::State& state) {
    AutoKillRuleSet set;
    RuleFileParser::Parse(LastTestFailsRules(), set);
    for (auto _ : state) {
        RuleEvaluator evaluator(set, UiLanguage::English());
        benchmark::DoNotOptimize(evaluator.ruleCount());
    }
}
BENCHMARK(BM_CompileRules)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace varnel

BENCHMARK_MAIN();
