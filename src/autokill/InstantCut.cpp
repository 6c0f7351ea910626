#include "autokill/InstantCut.h"

#include <algorithm>

#include "text/FixedText.h"

namespace varnel {

bool InstantCut::Attach(ConnectEventSource& source, std::string& reason) {
    source_ = nullptr;
    if (!source.Open(reason)) return false;
    source_ = &source;
    if (!sink_) sink_ = [this](const ConnectEvent& e) { OnEvent(e); };
    return true;
}

size_t InstantCut::Drain() {
    return source_ != nullptr ? source_->Drain(sink_) : 0;
}

std::string InstantCut::UnavailableText(const std::string& reason) {
    return PrintableLine("instant cut unavailable (" + reason + "); cutting at each " +
                         std::to_string(SessionMonitor::kTickMs) + " ms tick");
}

const KeptConnection* InstantCut::FindKept(const ConnectionKey& key) {
    const std::vector<KeptConnection>& kept = monitor_.kept();
    if (indexedPoll_ != monitor_.snapshot().polls()) {
        indexedPoll_ = monitor_.snapshot().polls();
        keptIndex_.clear();
        for (size_t i = 0; i < kept.size(); ++i) keptIndex_.emplace_back(kept[i].key.Hash(), static_cast<uint32_t>(i));
        std::sort(keptIndex_.begin(), keptIndex_.end());
    }
    const uint32_t hash = key.Hash();
    for (auto it = std::lower_bound(keptIndex_.begin(), keptIndex_.end(), std::make_pair(hash, uint32_t{0}));
         it != keptIndex_.end() && it->first == hash; ++it)
        if (kept[it->second].key == key) return &kept[it->second];
    return nullptr;
}

InstantCut::Outcome InstantCut::OnEvent(const ConnectEvent& event) {
    ++counts_.events;
    ConnectionSnapshot& snapshot = monitor_.snapshot();
    if (!monitor_.running() || snapshot.polls() == 0 || !monitor_.TableReadOk() || !autokill_.CanCut())
        return Outcome::kIgnored;
    KeptConnection k;
    if (!ConnectionSnapshot::KeepRow(event.row, true, k) || k.key.localPort == 0) return Outcome::kIgnored;
    const uint32_t now = monitor_.clock().TickMs();
    k.firstSeen = now;
    // The last poll's owner and first sighting, where the event gives no owner or the age counts.
    if (k.pid == 0 || autokill_.RulesReadAge()) {
        if (const KeptConnection* seen = FindKept(k.key)) {
            if (k.pid == 0) k.pid = seen->pid;
            k.firstSeen = seen->firstSeen;
        }
    }
    if (monitor_.ProcessInfoAvailable() && autokill_.RulesReadProcess() &&
        (k.pid == 0 || monitor_.processNames().ProcessNameForPid(static_cast<int32_t>(k.pid)).empty())) {
        ++counts_.waited;
        return Outcome::kWaitsForTick;
    }
    monitor_.BuildKeptRow(k, now, scratchRecord_, scratchRow_, SessionMonitor::KeptState::kJudged,
                          ConnectionSnapshot::HostNames::kNone);
    ++counts_.judged;
    switch (autokill_.ConsiderEvent(scratchRow_, k.firstSeen, now, snapshot.hostNameSource(),
                                    monitor_.ProcessInfoAvailable())) {
        case AutoKill::EventVerdict::kLeft:
            return Outcome::kLeft;
        case AutoKill::EventVerdict::kHeld:
            ++counts_.waited;
            return Outcome::kWaitsForTick;
        case AutoKill::EventVerdict::kCut:
            ++counts_.cut;
            return Outcome::kCut;
        case AutoKill::EventVerdict::kNotCut:
            break;
    }
    return Outcome::kNotCut;
}

}  // namespace varnel
