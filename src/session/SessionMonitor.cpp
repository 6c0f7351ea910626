#include "session/SessionMonitor.h"

#include <cstdio>
#include <cstring>

namespace varnel {

SessionMonitor::SessionMonitor(ConnectionTable& table, ProcessList& processes, Clock& clock, UiLanguage lang)
    : clock_(clock),
      lang_(std::move(lang)),
      processNames_(processes),
      snapshot_(table, processNames_, clock) {}

void SessionMonitor::Start() {
    std::memset(static_cast<void*>(table_.previous.data()), 0, sizeof table_.previous);
    RefreshRows();
    running_ = true;
}

void SessionMonitor::Stop() {
    running_ = false;
    tickCount_ = shownCount_ = maxCount_ = 0;
    UpdateCounter();
}

void SessionMonitor::Tick() {
    ReadTable();
    FinishTick();
}

void SessionMonitor::FinishTick() {
    // The current poll becomes the previous one; the current array starts empty.
    std::memcpy(static_cast<void*>(table_.previous.data()), table_.current.data(), sizeof table_.current);
    std::memset(static_cast<void*>(table_.current.data()), 0, sizeof table_.current);

    int n = snapshot_.TakeSnapshot(table_, true);
    table_.rowCount = n >= SessionTable::kSlots ? SessionTable::kMaxRows : (n < 0 ? 0 : n);
    sorter_.SortSessions(table_, clock_.TickMs());
    RefreshRows();

    if (hook_ != nullptr) hook_->AfterRefresh(*this);

    if (static_cast<uint32_t>(table_.rowCount) != shownCount_) {
        shownCount_ = static_cast<uint32_t>(table_.rowCount);
        if (shownCount_ >= maxCount_) maxCount_ = shownCount_;
        UpdateCounter();
    }
    if (++tickCount_ >= resetMaxMinutes_ * kTicksPerMinute) {
        tickCount_ = shownCount_ = maxCount_ = 0;
        UpdateCounter();
    }
}

void SessionMonitor::OnColumnClick(int column) {
    sorter_.OnColumnClick(column);
    sorter_.SortSessions(table_, clock_.TickMs());
    RefreshRows();
}

void SessionMonitor::RemoveAllItems() {
    listCount_ = 0;
    tickCount_ = shownCount_ = maxCount_ = 0;
    UpdateCounter();
}

void SessionMonitor::RefreshRows() {
    listCount_ = table_.rowCount > 0 ? table_.rowCount : 0;
    const uint32_t now = clock_.TickMs();
    const bool withProcess = ProcessInfoAvailable();
    for (int i = 0; i < listCount_; ++i)
        BuildSessionRow(*table_.displayOrder[static_cast<size_t>(i)], now, withProcess, lang_,
                        rows_[static_cast<size_t>(i)]);
}

void SessionMonitor::BuildKeptRow(const KeptConnection& k, uint32_t now, SessionRecord& scratch,
                                  SessionRow& row, KeptState which, ConnectionSnapshot::HostNames names) {
    snapshot_.FillRecord(k, scratch, names);
    if (which == KeptState::kJudged) scratch.state = static_cast<int32_t>(JudgedState(k.state));
    BuildSessionRow(scratch, now, ProcessInfoAvailable(), lang_, row);
}

std::string SessionMonitor::CounterText() const {
    char text[96];
    std::snprintf(text, sizeof text, " %s : %4u (%4u)", lang_.Pick("接続数 (Max)", "Connections (Max)"),
                  shownCount_, maxCount_);
    return text;
}

bool SessionMonitor::TakeCounterChanged() {
    bool changed = counterChanged_;
    counterChanged_ = false;
    return changed;
}

}  // namespace varnel
