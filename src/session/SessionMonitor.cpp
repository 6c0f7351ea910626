#include "session/SessionMonitor.h"

#include <cstdio>
#include <cstring>
#include <algorithm>

namespace varnel {

SessionMonitor::SessionMonitor(ConnectionTable& table, ProcessList& processes, Clock& clock, UiLanguage lang)
    : clock_(clock),
      lang_(std::move(lang)),
      processNames_(processes),
      snapshot_(table, processNames_, clock) {}

void SessionMonitor::SetFilterText(std::string_view text) {
    filter_.SetText(text);
    if (!filter_.active()) {
        snapshot_.SetRowFilter({});
    } else {
        snapshot_.SetRowFilter([this](const SessionRecord& record) {
            BuildSessionRow(record, clock_.TickMs(), ProcessInfoAvailable(), lang_, filterRow_);
            return filter_.Matches(filterRow_);
        });
    }
    UpdateCounter();
}

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
    const size_t listable = filter_.active() ? snapshot_.listableCount() : static_cast<size_t>(table_.rowCount);
    const uint32_t unfiltered = static_cast<uint32_t>(std::min<size_t>(listable, SessionTable::kMaxRows));
    if (unfiltered != unfilteredCount_) UpdateCounter();
    unfilteredCount_ = unfiltered;
    sorter_.SortSessions(table_, clock_.TickMs());
    RefreshRows();

    if (hook_ != nullptr) hook_->AfterRefresh(*this);

    // The counter counts connections, not what the filter lets through.
    if (unfilteredCount_ != shownCount_) {
        shownCount_ = unfilteredCount_;
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
    if (filter_.active()) {
        std::snprintf(text, sizeof text, lang_.Pick(" 接続数 (Max) : %4d / %4u (%4u)", " Connections (Max) : %4d of %4u (%4u)"),
                      listCount_, shownCount_, maxCount_);
        return text;
    }
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
