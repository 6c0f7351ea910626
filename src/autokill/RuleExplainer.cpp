#include "autokill/RuleExplainer.h"

#include <algorithm>

#include "autokill/RuleFindingText.h"
#include "autokill/RuleLineReader.h"

namespace varnel {

RuleExplainer::RuleExplainer(const UiLanguage& language)
    : language_(language), evaluator_(rules_, language) {
    evaluator_.SetIndexing(true);
}

RuleExplainer::Parsed& RuleExplainer::Lookup(std::string_view piece, int lineNumber) {
    auto it = parsed_.find(piece);
    if (it != parsed_.end()) return it->second;
    // Every edit leaves a text behind; forget them all now and then rather than keep each one.
    if (parsed_.size() >= 4 * static_cast<size_t>(RuleFileParser::kMaxCandidates)) parsed_.clear();
    Parsed parsed;
    RuleNotes notes;
    RuleChecker::CheckedLine checked;
    RuleChecker::CheckCandidate(piece, lineNumber, parsed.rule, notes, checked);
    parsed.isRule = checked.kind == RuleChecker::CheckedLine::Kind::kRule;
    parsed.text = RuleFindingText::ForLanguage(checked.Text(), language_);
    parsed.warned = !checked.warnings.empty();
    parsed.error = !checked.errors.empty();
    parsed.cutsEverything =
        parsed.isRule && parsed.rule.allow == 0 && RuleChecker::MatchesEverySession(parsed.rule);
    return parsed_.emplace(std::string(piece), std::move(parsed)).first->second;
}

void RuleExplainer::Check(std::string_view text) {
    lines_.clear();
    lineOfRule_.clear();
    rules_.Clear();
    rowsCounted_ = rowsNotShown_ = cut_ = spared_ = cutNotShown_ = sparedNotShown_ = held_ = 0;
    errorLines_ = cutEverything_ = 0;
    RuleLineReader reader(text);
    const int candidates = RuleFileParser::ForEachCandidate(reader, [&](const RuleLinePiece& piece) {
        Parsed& parsed = Lookup(piece.text, piece.lineNumber);
        parsed.rule.lineNumber = piece.lineNumber;
        Line line;
        line.lineNumber = piece.lineNumber;
        line.text = parsed.text;
        line.warned = parsed.warned;
        line.error = parsed.error;
        errorLines_ += parsed.error;
        if (parsed.isRule && rules_.Add(parsed.rule)) {
            line.rule = rules_.count();
            line.allow = parsed.rule.allow != 0;
            line.cutsEverything = parsed.cutsEverything;
            cutEverything_ += parsed.cutsEverything;
            lineOfRule_.push_back(static_cast<int>(lines_.size()));
        }
        lines_.push_back(std::move(line));
    });
    RuleChecker::CheckedLine stopped;
    if (candidates == RuleFileParser::kMaxCandidates && RuleChecker::StoppedLine(reader, stopped)) {
        Line line;
        line.lineNumber = stopped.lineNumber;
        line.text = RuleFindingText::ForLanguage(stopped.Text(), language_);
        line.warned = true;
        lines_.push_back(std::move(line));
    }
    evaluator_.Rebuild(rules_, language_);
}

void RuleExplainer::Count(const std::vector<SessionRow>& rows, int hour, size_t shown) {
    for (Line& line : lines_) line.matches = line.matchesNotShown = 0;
    shown = std::min(shown, rows.size());
    rowsCounted_ = static_cast<int>(shown);
    rowsNotShown_ = static_cast<int>(rows.size() - shown);
    cut_ = spared_ = cutNotShown_ = sparedNotShown_ = held_ = 0;
    if (rules_.empty()) return;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Verdict v = evaluator_.Evaluate(RowTexts::FromRow(rows[i]), hour);
        if (v.held) {
            ++held_;
            continue;
        }
        if (v.rule == 0) continue;
        const bool isShown = i < shown;
        Line& line = lines_[static_cast<size_t>(lineOfRule_[static_cast<size_t>(v.rule - 1)])];
        ++(isShown ? line.matches : line.matchesNotShown);
        if (v.verdict == Verdict::kLeave)
            ++(isShown ? spared_ : sparedNotShown_);
        else
            ++(isShown ? cut_ : cutNotShown_);
    }
}

}  // namespace varnel
