#include "autokill/RuleIndex.h"

#include <algorithm>

#include "session/DottedAddress.h"
#include "session/SessionRecord.h"
#include "session/SessionRow.h"

namespace varnel {

namespace {

constexpr size_t kPortWords = 65536 / 64;
constexpr size_t kMemoSlots = 4096;  // a power of two

void SetPorts(std::vector<uint64_t>& bits, const PortRange& range) {
    for (uint32_t p = range.low; p <= range.high; ++p) bits[p >> 6] |= uint64_t{1} << (p & 63);
}

bool HasPort(const std::vector<uint64_t>& bits, uint16_t port) {
    return (bits[port >> 6] >> (port & 63)) & 1u;
}

// A pattern an anchor can be: a plain prefix or suffix. Containment and "????" (which also matches
// a host without a name) cannot be looked up by their text.
bool Anchorable(const RulePattern& p, bool host) {
    return p.IsSet() && !p.containment() && !(host && p.unnamedHost());
}

uint32_t MixKey(uint32_t key) {
    uint32_t h = key * 0x9E3779B1u;
    return h ^ (h >> 16);
}

}  // namespace

RuleIndex::RuleIndex()
    : localPorts_(kPortWords), remotePorts_(kPortWords), addressMemo_(kMemoSlots), pidMemo_(kMemoSlots) {
    remoteHost_.suffix = localHost_.suffix = true;
}

void RuleIndex::AffixSet::Seal() {
    needles.clear();
    lengths.clear();
    for (const std::string& n : owned) {
        needles.insert(n);
        lengths.push_back(n.size());
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
}

bool RuleIndex::AffixSet::Matches(std::string_view text) const {
    for (size_t len : lengths) {
        if (len > text.size()) break;
        if (needles.count(suffix ? text.substr(text.size() - len) : text.substr(0, len))) return true;
    }
    return false;
}

void RuleIndex::Rebuild(const AutoKillRuleSet& rules, const UiLanguage& language) {
    std::fill(localPorts_.begin(), localPorts_.end(), 0);
    std::fill(remotePorts_.begin(), remotePorts_.end(), 0);
    anyLocalPort_ = anyRemotePort_ = anyKillRule_ = everyConnection_ = false;
    states_ = 0;
    for (AffixSet* set : {&localAddress_, &remoteAddress_, &process_, &localHost_, &remoteHost_})
        set->owned.clear();

    const std::string_view stateNames[3] = {"", language.Pick("接続中", "Connecting"),
                                            language.Pick("接続待ち", "Waiting")};
    for (int i = 0; i < rules.count(); ++i) {
        const AutoKillRule& rule = rules.rule(i);
        if (rule.allow != 0) continue;                                       // an exemption never cuts
        if (rule.mustNot.stat != 0 && rule.mustNot.stat % 3 == 0) continue;  // never matches
        anyKillRule_ = true;
        const RuleConditions& c = rule.must;
        if (c.port2.IsSet()) {
            SetPorts(remotePorts_, c.port2);
            anyRemotePort_ = true;
        } else if (c.port1.IsSet()) {
            SetPorts(localPorts_, c.port1);
            anyLocalPort_ = true;
        } else if (Anchorable(c.ip2, false)) {
            remoteAddress_.Add(c.ip2.needle());
        } else if (Anchorable(c.ip1, false)) {
            localAddress_.Add(c.ip1.needle());
        } else if (Anchorable(c.pid, false)) {
            process_.Add(c.pid.needle());
        } else if (Anchorable(c.host2, true)) {
            remoteHost_.Add(c.host2.needle());
        } else if (Anchorable(c.host1, true)) {
            localHost_.Add(c.host1.needle());
        } else if (c.stat % 3 != 0) {
            // The states whose shown name holds the rule's state name, in the language in force.
            for (int state = 0; state <= 12; ++state)
                if (std::string_view(StateName(state, language)).find(stateNames[c.stat % 3]) !=
                    std::string_view::npos)
                    states_ |= 1u << state;
        } else {
            everyConnection_ = true;
        }
    }
    for (AffixSet* set : {&localAddress_, &remoteAddress_, &process_, &localHost_, &remoteHost_}) set->Seal();
}

void RuleIndex::BeginPass() {
    if (++pass_ == 0) {  // the stamps wrapped: forget them all rather than trust an old one
        for (auto* memo : {&addressMemo_, &pidMemo_})
            for (MemoSlot& s : *memo) s.pass = 0;
        pass_ = 1;
    }
}

template <typename Work>
bool RuleIndex::Memo(std::vector<MemoSlot>& memo, uint32_t key, Fact fact, Work&& work) {
    MemoSlot& slot = memo[MixKey(key) & (kMemoSlots - 1)];
    if (slot.pass != pass_ || slot.key != key) slot = MemoSlot{key, pass_, 0};
    const uint32_t known = 1u << (2 * fact);
    const uint32_t answer = known << 1;
    if ((slot.bits & known) == 0) slot.bits |= known | (work() ? answer : 0);
    return (slot.bits & answer) != 0;
}

bool RuleIndex::HostHit(uint32_t addr, const AffixSet& set, ConnectionSnapshot& snapshot) {
    char address[16];
    FormatDottedAddress(addr, address);
    HostNameSource* names = snapshot.hostNameSource();
    if (names == nullptr) return set.Matches(address);  // resolution off: the host text is the address
    char host[SessionRecord::kHostSize];
    names->LookupHostName(address, host, sizeof host);
    return set.Matches(host);
}

bool RuleIndex::CouldCut(const KeptConnection& k, ConnectionSnapshot& snapshot) {
    if (!anyKillRule_) return false;
    if (everyConnection_) return true;
    if (anyRemotePort_ && HasPort(remotePorts_, k.key.remotePort)) return true;
    if (anyLocalPort_ && HasPort(localPorts_, k.key.localPort)) return true;
    if (k.state < 32 && ((states_ >> k.state) & 1u)) return true;
    auto addressText = [](uint32_t addr, const AffixSet& set) {
        char text[16];
        FormatDottedAddress(addr, text);
        return set.Matches(text);
    };
    if (!remoteAddress_.empty() && Memo(addressMemo_, k.key.remoteAddr, kRemoteAddress,
                                        [&] { return addressText(k.key.remoteAddr, remoteAddress_); }))
        return true;
    if (!localAddress_.empty() && Memo(addressMemo_, k.key.localAddr, kLocalAddress,
                                       [&] { return addressText(k.key.localAddr, localAddress_); }))
        return true;
    if (!process_.empty() && Memo(pidMemo_, k.pid, kProcess, [&] {
            // As the rules read it: the process column with its spaces removed.
            char text[SessionRecord::kProcessSize];
            size_t n = snapshot.FormatProcessText(k, text, sizeof text);
            std::string_view raw(text, n);
            char squeezed[SessionRecord::kProcessSize];
            size_t m = 0;
            for (char ch : raw)
                if (ch != ' ') squeezed[m++] = ch;
            return process_.Matches(std::string_view(squeezed, m));
        }))
        return true;
    if (!remoteHost_.empty() && Memo(addressMemo_, k.key.remoteAddr, kRemoteHost,
                                     [&] { return HostHit(k.key.remoteAddr, remoteHost_, snapshot); }))
        return true;
    if (!localHost_.empty() && Memo(addressMemo_, k.key.localAddr, kLocalHost,
                                    [&] { return HostHit(k.key.localAddr, localHost_, snapshot); }))
        return true;
    return false;
}

}  // namespace varnel
