#pragma once

#include <string_view>

namespace varnel {

// The domain class of an address or host-name cell: which colour item of the ColorScheme paints
// it. A class is identified by that item's index; there is no separate code.
//
// Names ending ".jp" get one of the nine second-level .jp items (ne, or, ad, gr, ed, ac, co, go,
// lg) or "Other (.jp)"; other names get one of the 21 generic top-level items (.com ... .post) or
// "Other Domain"; a text that is empty or made only of digits and dots is an address literal, and
// so is an IPv6 address text (hexadecimal digits, colons and dots, with at least one colon). The
// comparison ignores the case of ASCII letters and leaves every other byte as it is, so UTF-8 text
// is safe. Pure function, any thread.
class DomainClass {
public:
    // The ColorScheme item index of `text`'s class.
    static int Classify(std::string_view text);
};

}  // namespace varnel
