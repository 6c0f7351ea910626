#include "platform/ResetRequestStream.h"

#include "platform/ResetRequestLine.h"

namespace varnel {

void ResetRequestStream::Feed(std::string_view bytes, std::string& answers) {
    while (!bytes.empty()) {
        const size_t newline = bytes.find('\n');
        const std::string_view part = bytes.substr(0, newline);
        if (!overlong_) {
            if (line_.size() + part.size() > ResetRequestLine::kMaxLength) {
                overlong_ = true;
                line_.clear();
            } else {
                line_.append(part);
            }
        }
        if (newline == std::string_view::npos) return;
        Complete(answers);
        bytes.remove_prefix(newline + 1);
    }
}

void ResetRequestStream::Finish(std::string& answers) {
    if (!overlong_ && line_.empty()) return;
    answers += ResetRequestLine::Refused(overlong_ ? "line-too-long" : "unterminated");
    answers += '\n';
    line_.clear();
    overlong_ = false;
}

void ResetRequestStream::Complete(std::string& answers) {
    if (overlong_) {
        answers += ResetRequestLine::Refused("line-too-long");
    } else {
        const ResetRequestLine::Parsed parsed = ResetRequestLine::Parse(line_);
        answers += parsed.ok ? ResetRequestLine::Answer(reset_.SetTcpEntry(parsed.row))
                             : ResetRequestLine::Refused(parsed.refusal);
    }
    answers += '\n';
    line_.clear();
    overlong_ = false;
}

}  // namespace varnel
