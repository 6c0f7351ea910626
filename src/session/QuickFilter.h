#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "session/SessionRow.h"

namespace varnel {

// The list's quick filter: the words typed into the box above the list. A row passes when every
// word is contained in at least one of its cell texts (any column, A-Z compared without regard to
// case; other bytes, UTF-8 included, as they are). No words: every row passes.
//
// It narrows only what the list shows; auto kill never reads it. Plain data; any thread, one at
// a time. Matches allocates nothing.
class QuickFilter {
  public:
    // Words are split at spaces and tabs; control characters count as spaces.
    void SetText(std::string_view text);
    bool active() const { return !words_.empty(); }
    const std::vector<std::string>& words() const { return words_; }

    bool Matches(const SessionRow& row) const;

  private:
    std::vector<std::string> words_;  // folded
};

}  // namespace varnel
