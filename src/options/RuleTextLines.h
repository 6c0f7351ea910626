#pragma once

#include <QString>
#include <string>
#include <vector>

namespace varnel {

// The rule file's bytes as lines of editor text, and edited text back to bytes.
//
// The file is outside input and need not be UTF-8: a comment may well be Shift-JIS, which shows
// as U+FFFD in the editor. So every line keeps its own bytes and its own line break, and Bytes()
// maps the edited text back line by line: a line the user did not touch is written with exactly
// the bytes and the break it had; only new or changed lines are written as UTF-8, with the file's
// break (CR LF when the file had any, else LF). Line breaks are CR LF, LF or a lone CR.
//
// Lines are matched as a diff would in the usual case: the common head and tail of the two texts,
// then, in between, each edited line takes the next unused old line of the same text, in order.
// Value type; any thread (it holds no QObject).
class RuleTextLines {
  public:
    explicit RuleTextLines(const std::string& bytes = {});

    // The text to show: the decoded lines joined by LF.
    QString Text() const;
    // Takes the editor's own rendering of Text() (an editor may normalise some characters) as the
    // text of the lines, when it has as many lines; later edits are compared with it.
    void AdoptShown(const QString& shown);
    // The bytes to store for `edited`, the editor's text (lines joined by LF).
    std::string Bytes(const QString& edited) const;

  private:
    struct Line {
        std::string bytes;  // without the break
        std::string brk;    // "\r\n", "\n", "\r", or empty for the last line
        QString text;
    };
    std::vector<Line> lines_;
    std::string newBreak_ = "\n";
};

}  // namespace varnel
