#include "autokill/RuleExplainer.h"

#include "autokill/RuleLineReader.h"

namespace varnel {

namespace {

RowTexts ViewOf(const SessionRow& row) {
    const char* texts[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) texts[c] = row[c];
    return RowTexts::FromColumns(texts);
}

}  // namespace

RuleExplainer::RuleExplainer(const UiLanguage& language)
    : language_(language), evaluator_(rules_, language) {}

void RuleExplainer::Check(std::string_view text) {
    lines_.clear();
    lineOfRule_.clear();
    rules_.Clear();
    rowsCounted_ = cut_ = spared_ = held_ = 0;
    RuleLineReader reader(text);
    RuleChecker::Walk(reader, [&](const RuleChecker::CheckedLine& checked) {
        Line line;
        line.lineNumber = checked.lineNumber;
        line.text = checked.Text();
        line.warned = !checked.warnings.empty() ||
                      checked.kind == RuleChecker::CheckedLine::Kind::kStopped;
        if (checked.kind == RuleChecker::CheckedLine::Kind::kRule && rules_.Add(*checked.rule)) {
            line.rule = rules_.count();
            line.allow = checked.rule->allow != 0;
            lineOfRule_.push_back(static_cast<int>(lines_.size()));
        }
        lines_.push_back(std::move(line));
    });
    evaluator_.Rebuild(rules_, language_);
}

void RuleExplainer::Count(const std::vector<SessionRow>& rows, int hour) {
    for (Line& line : lines_) line.matches = 0;
    rowsCounted_ = static_cast<int>(rows.size());
    cut_ = spared_ = held_ = 0;
    if (rules_.empty()) return;
    for (const SessionRow& row : rows) {
        const Verdict v = evaluator_.Evaluate(ViewOf(row), hour);
        if (v.held) {
            ++held_;
            continue;
        }
        if (v.rule == 0) continue;
        ++lines_[static_cast<size_t>(lineOfRule_[static_cast<size_t>(v.rule - 1)])].matches;
        if (v.verdict == Verdict::kLeave)
            ++spared_;
        else
            ++cut_;
    }
}

}  // namespace varnel
