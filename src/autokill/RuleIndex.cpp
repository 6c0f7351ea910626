#include "autokill/RuleIndex.h"

#include <algorithm>

#include "session/AddressText.h"
#include "session/DottedAddress.h"
#include "session/SessionRecord.h"
#include "session/SessionRow.h"
#include "text/AsciiCase.h"
#include "text/FixedText.h"

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

uint32_t MixKey(uint32_t key) {
    uint32_t h = key * 0x9E3779B1u;
    return h ^ (h >> 16);
}

}  // namespace

RuleIndex::RuleIndex()
    : localPorts_(kPortWords), remotePorts_(kPortWords), addressMemo_(kMemoSlots), pidMemo_(kMemoSlots) {
    remoteHost_.suffix = localHost_.suffix = true;
}

void RuleIndex::TextAnchors::Clear() {
    unnamed = false;
    owned.clear();
    contained.clear();
}

void RuleIndex::TextAnchors::Seal() {
    needles.clear();
    lengths.clear();
    for (const std::string& n : owned) {
        needles.insert(n);
        lengths.push_back(n.size());
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
}

bool RuleIndex::TextAnchors::Matches(std::string_view text, std::string_view address) const {
    if (unnamed && EqualsIgnoringAsciiCase(text, address)) return true;
    for (size_t len : lengths) {
        if (len > text.size()) break;
        if (needles.count(suffix ? text.substr(text.size() - len) : text.substr(0, len))) return true;
    }
    for (const std::string& needle : contained)
        if (text.find(needle) != std::string_view::npos) return true;
    return false;
}

// Files `rule` under its most selective condition; false when it has none.
bool RuleIndex::File(const AutoKillRule& rule, const UiLanguage& language) {
    const RuleConditions& c = rule.must;
    if (c.port2.IsSet()) {
        SetPorts(remotePorts_, c.port2);
        anyRemotePort_ = true;
        return true;
    }
    if (c.port1.IsSet()) {
        SetPorts(localPorts_, c.port1);
        anyLocalPort_ = true;
        return true;
    }
    struct Text {
        const RulePattern& pattern;
        TextAnchors& anchors;
        bool host;
        // Host names compare without regard to case: host anchors are filed folded, and the
        // host texts folded before they are looked up.
        std::string_view needle() const { return host ? pattern.foldedNeedle() : pattern.needle(); }
    };
    const Text texts[] = {{c.ip2, remoteAddress_, false},
                          {c.ip1, localAddress_, false},
                          {c.pid, process_, false},
                          {c.host2, remoteHost_, true},
                          {c.host1, localHost_, true}};
    // A prefix or suffix is found by one hash lookup: preferred to a containment, which is searched.
    for (const Text& t : texts) {
        if (t.pattern.IsSet() && !t.pattern.containment() && !(t.host && t.pattern.unnamedHost())) {
            t.anchors.owned.emplace_back(t.needle());
            return true;
        }
    }
    for (const Text& t : texts) {
        if (!t.pattern.IsSet()) continue;
        if (t.host && t.pattern.unnamedHost()) {
            // "????" is a suffix test as well as the test for a host without a name.
            t.anchors.unnamed = true;
            t.anchors.owned.emplace_back(t.needle());
        } else {
            t.anchors.contained.emplace_back(t.needle());
        }
        return true;
    }
    if (c.time != 0) {
        // An age past 2^32 ms is never shown (the tick wraps there): such a rule never matches.
        const uint64_t ms = uint64_t{c.time} * 1000;
        if (ms <= UINT32_MAX) minAgeMs_ = std::min(minAgeMs_, static_cast<uint32_t>(ms));
        return true;
    }
    if (c.stat % 3 != 0) {
        // The states whose shown name holds the rule's state name, in the language in force.
        const std::string_view name =
            c.stat % 3 == 1 ? language.Pick("接続中", "Connecting") : language.Pick("接続待ち", "Waiting");
        for (int state = 0; state <= 12; ++state)
            if (std::string_view(StateName(state, language)).find(name) != std::string_view::npos)
                states_ |= 1u << state;
        return true;
    }
    if (c.sysTime.IsSet()) {
        for (int h = c.sysTime.from; h <= c.sysTime.to; ++h) everyHour_ |= 1u << h;
        return true;
    }
    return false;
}

void RuleIndex::Rebuild(const AutoKillRuleSet& rules, const UiLanguage& language) {
    std::fill(localPorts_.begin(), localPorts_.end(), 0);
    std::fill(remotePorts_.begin(), remotePorts_.end(), 0);
    anyLocalPort_ = anyRemotePort_ = anyKillRule_ = false;
    states_ = everyHour_ = 0;
    minAgeMs_ = UINT32_MAX;
    for (TextAnchors* t : {&localAddress_, &remoteAddress_, &process_, &localHost_, &remoteHost_}) t->Clear();

    for (int i = 0; i < rules.count(); ++i) {
        const AutoKillRule& rule = rules.rule(i);
        if (rule.allow != 0) continue;                                       // an exemption never cuts
        if (rule.mustNot.stat != 0 && rule.mustNot.stat % 3 == 0) continue;  // never matches
        anyKillRule_ = true;
        if (!File(rule, language)) everyHour_ = 0xFFFFFFu;
    }
    for (TextAnchors* t : {&localAddress_, &remoteAddress_, &process_, &localHost_, &remoteHost_}) t->Seal();
}

void RuleIndex::BeginPass(uint32_t now, int hour) {
    now_ = now;
    everyThisPass_ = hour >= 0 && hour < 24 && ((everyHour_ >> hour) & 1u);
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

bool RuleIndex::HostHit(const char* address, const TextAnchors& anchors, ConnectionSnapshot& snapshot) {
    // Resolution off, a failed lookup and one that outlasts its hold (RuleHostText) all leave the
    // rules the address text. A name still pending is given that answer too, whatever the
    // connection's age, so that the memo may share it by address; the evaluator holds the young.
    HostNameSource* names = snapshot.hostNameSource();
    if (names == nullptr || !names->FindHostName(address, hostScratch_)) return anchors.Matches(address, address);
    for (char& c : hostScratch_) c = AsciiLower(c);
    return anchors.Matches(hostScratch_, address);
}

bool RuleIndex::ProcessHit(const KeptConnection& k, ConnectionSnapshot& snapshot) {
    return !process_.empty() && Memo(pidMemo_, k.pid, kProcess, [&] {
        // As the rules read it: the process column with its spaces removed.
        char text[SessionRecord::kProcessSize];
        size_t n = snapshot.FormatProcessText(k, text, sizeof text);
        std::string_view raw(text, n);
        char squeezed[SessionRecord::kProcessSize];
        size_t m = 0;
        for (char ch : raw)
            if (ch != ' ') squeezed[m++] = ch;
        return process_.Matches(std::string_view(squeezed, m), {});
    });
}

bool RuleIndex::CouldCut(const KeptConnection& k, ConnectionSnapshot& snapshot) {
    if (!anyKillRule_) return false;
    if (everyThisPass_) return true;
    if (anyRemotePort_ && HasPort(remotePorts_, k.key.remotePort)) return true;
    if (anyLocalPort_ && HasPort(localPorts_, k.key.localPort)) return true;
    // Tested on the state the rules judge by: a half-closed connection as established.
    const uint32_t state = JudgedState(k.state);
    if (state < 32 && ((states_ >> state) & 1u)) return true;
    // The age as the row shows it is whole seconds of now - firstSeen (modulo 2^32, as the tick).
    if (now_ - k.firstSeen >= minAgeMs_) return true;
    if (k.key.v6) {
        // IPv6 addresses do not fit the memo's 32-bit keys: their texts are worked out each time.
        if (ProcessHit(k, snapshot)) return true;
        if (remoteAddress_.empty() && localAddress_.empty() && remoteHost_.empty() && localHost_.empty())
            return false;
        char local[AddressText::kSize];
        char remote[AddressText::kSize];
        AddressText::FormatLocal(k.key, local);
        AddressText::FormatRemote(k.key, remote);
        if (!remoteAddress_.empty() && remoteAddress_.Matches(remote, {})) return true;
        if (!localAddress_.empty() && localAddress_.Matches(local, {})) return true;
        if (!remoteHost_.empty() && HostHit(remote, remoteHost_, snapshot)) return true;
        return !localHost_.empty() && HostHit(local, localHost_, snapshot);
    }
    auto addressText = [](uint32_t addr, const TextAnchors& anchors) {
        char text[16];
        FormatDottedAddress(addr, text);
        return anchors.Matches(text, {});
    };
    auto hostHit = [&](uint32_t addr, const TextAnchors& anchors) {
        char text[16];
        FormatDottedAddress(addr, text);
        return HostHit(text, anchors, snapshot);
    };
    if (!remoteAddress_.empty() && Memo(addressMemo_, k.key.remoteAddr, kRemoteAddress,
                                        [&] { return addressText(k.key.remoteAddr, remoteAddress_); }))
        return true;
    if (!localAddress_.empty() && Memo(addressMemo_, k.key.localAddr, kLocalAddress,
                                       [&] { return addressText(k.key.localAddr, localAddress_); }))
        return true;
    if (ProcessHit(k, snapshot)) return true;
    if (!remoteHost_.empty() && Memo(addressMemo_, k.key.remoteAddr, kRemoteHost,
                                     [&] { return hostHit(k.key.remoteAddr, remoteHost_); }))
        return true;
    if (!localHost_.empty() && Memo(addressMemo_, k.key.localAddr, kLocalHost,
                                    [&] { return hostHit(k.key.localAddr, localHost_); }))
        return true;
    return false;
}

}  // namespace varnel
