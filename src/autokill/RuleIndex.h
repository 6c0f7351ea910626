#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "settings/UiLanguage.h"
#include "autokill/AutoKillRuleSet.h"
#include "session/ConnectionSnapshot.h"
#include "session/KeptConnection.h"

namespace varnel {

// A quick "could any rule cut this connection?" for the kill pass, so that most connections are
// passed over without their nine texts being built or the rules being walked.
//
// Each rule that can cut (not ALLOW, not a rule that never matches) is filed under one condition
// every connection it cuts must meet (its anchor), the most selective it has: the remote port
// range, the local port range, an address, process or host pattern (prefixes and suffixes before
// containment), the minimum age, the state, the hour window. A connection is a candidate when it
// meets the anchor of at least one rule; only candidates go to RuleEvaluator, which decides as
// always. A rule with no anchor (only negated conditions, or none at all) makes every connection a
// candidate. The index never rejects a connection a rule would cut: an anchor is a condition of its
// rule, tested on the same text the rule tests.
//
// Texts are worked out only when an anchor needs them, and once per pass per address (local and
// remote) and per PID: connections that share an IPv4 address share the answer (an IPv6 address's
// texts are worked out for each connection). A host text is the whole name the host-name source
// knows, which starts a lookup for an address it does not know yet; a name still being looked up
// is tested as its address text (what the rules read once its hold has passed). Host anchors
// compare without regard to ASCII case, as the evaluator's host tests do.
//
// Built once per rule load (Rebuild); a pass (BeginPass, then CouldCut per connection) allocates
// nothing. Tick's thread only.
class RuleIndex {
  public:
    RuleIndex();

    void Rebuild(const AutoKillRuleSet& rules, const UiLanguage& language);

    // No rule can cut anything: the kill pass has nothing to do.
    bool empty() const { return !anyKillRule_; }
    // Some rule has no anchor: every connection is a candidate (in every hour).
    bool everyConnection() const { return everyHour_ == 0xFFFFFFu; }

    // `now` is the tick the ages are measured at, `hour` the local hour of the pass.
    void BeginPass(uint32_t now, int hour);
    // `snapshot` gives the process texts and host names of the poll `k` comes from.
    bool CouldCut(const KeptConnection& k, ConnectionSnapshot& snapshot);

  private:
    // The patterns filed under one text: prefixes (or suffixes) by length, so that a text is tested
    // with one hash lookup per distinct length rather than once per rule, and containment needles,
    // each searched for.
    struct TextAnchors {
        bool suffix = false;
        bool unnamed = false;  // a host pattern "????": the host text is the address text
        std::vector<std::string> owned;
        std::vector<std::string> contained;
        std::unordered_set<std::string_view> needles;
        std::vector<size_t> lengths;  // ascending, distinct

        bool empty() const { return owned.empty() && contained.empty() && !unnamed; }
        void Clear();
        void Seal();
        bool Matches(std::string_view text, std::string_view address) const;
    };
    // Per pass, what an address or a PID gave: bit 2k set when fact k is known, 2k+1 its answer.
    struct MemoSlot {
        uint32_t key;
        uint32_t pass;
        uint32_t bits;
    };
    enum Fact : uint32_t { kLocalAddress, kRemoteAddress, kLocalHost, kRemoteHost, kProcess };

    // The answer to `fact` for `key` (an address or a PID) in this pass, worked out by `work` the
    // first time it is asked. The memo is direct-mapped: a clash only costs working it out again.
    template <typename Work>
    bool Memo(std::vector<MemoSlot>& memo, uint32_t key, Fact fact, Work&& work);
    bool HostHit(const char* address, const TextAnchors& anchors, ConnectionSnapshot& snapshot);
    bool ProcessHit(const KeptConnection& k, ConnectionSnapshot& snapshot);
    bool File(const AutoKillRule& rule, const UiLanguage& language);

    bool anyKillRule_ = false;
    std::vector<uint64_t> localPorts_;   // 65,536 bits: some rule's anchor is this local port
    std::vector<uint64_t> remotePorts_;  // the same for the remote port
    bool anyLocalPort_ = false;
    bool anyRemotePort_ = false;
    uint32_t states_ = 0;             // bit per state code
    uint32_t everyHour_ = 0;          // bit per local hour in which every connection is a candidate
    uint32_t minAgeMs_ = UINT32_MAX;  // the youngest age some rule's anchor asks for
    TextAnchors localAddress_, remoteAddress_, process_, localHost_, remoteHost_;

    uint32_t pass_ = 0;
    uint32_t now_ = 0;
    bool everyThisPass_ = false;
    std::vector<MemoSlot> addressMemo_;  // by address; facts of the address on either side
    std::vector<MemoSlot> pidMemo_;
    std::string hostScratch_;
};

}  // namespace varnel
