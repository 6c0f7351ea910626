#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/UiLanguage.h"
#include "platform/Clock.h"
#include "platform/ConnectionTable.h"
#include "platform/ProcessList.h"
#include "session/ConnectionSnapshot.h"
#include "session/ProcessNameCache.h"
#include "session/QuickFilter.h"
#include "session/SessionRow.h"
#include "session/SessionSorter.h"
#include "session/SessionTable.h"

namespace varnel {

class SessionMonitor;

// What runs in the middle of a tick, after the rows are rebuilt and before the counter: the
// auto-kill pass. It reads the shown rows and every other kept connection of the poll through the
// monitor. Called at every tick, also when no row is shown.
class TickHook {
  public:
    virtual ~TickHook() = default;
    virtual void AfterRefresh(SessionMonitor& monitor) = 0;
};

// The session monitor without its window: the session table, the 500 ms tick that polls, limits,
// sorts and rebuilds the nine row texts, and the connection counter with its periodic reset.
// A window shows `Row(0..listCount()-1)` after each Tick and shows `CounterText()`.
//
// Dependencies are borrowed and must outlive the monitor. Everything here runs on one thread
// (the tick's). A steady tick allocates nothing.
class SessionMonitor {
  public:
    static constexpr int kTickMs = 500;
    static constexpr uint32_t kTicksPerMinute = 120;

    SessionMonitor(ConnectionTable& table, ProcessList& processes, Clock& clock, UiLanguage lang);

    // nullptr turns host-name resolution off. The source must outlive its use.
    void SetHostNameSource(HostNameSource* source) { snapshot_.SetHostNameSource(source); }
    // Whether the list shows IPv6 connections (the ShowIPv6 setting; off at first). Auto kill sees
    // them either way. Takes effect at the next tick.
    void SetShowIpv6(bool on) { snapshot_.SetShowIpv6(on); }
    bool showIpv6() const { return snapshot_.showIpv6(); }
    void SetTickHook(TickHook* hook) { hook_ = hook; }
    // Minutes after which the maximum restarts (the ResetMaxConnections setting).
    void SetResetMaxMinutes(uint32_t minutes) { resetMaxMinutes_ = minutes; }

    // The quick filter's text: from the next tick the list holds only the connections whose row
    // texts contain every word (QuickFilter), taken before the 599-row limit. Auto kill still
    // tests every kept connection. The counter then reads "12 of 340".
    void SetFilterText(std::string_view text);
    bool filtering() const { return filter_.active(); }
    // Rows the list could show at the last tick without the filter (limited to 599).
    uint32_t unfilteredCount() const { return unfilteredCount_; }

    // Start clears the previous poll and rebuilds the rows left from the last run; Stop keeps the
    // rows (their ages no longer advance) and sets the counters to 0.
    void Start();
    void Stop();
    bool running() const { return running_; }

    // One tick: poll, limit to 599 rows, sort, rebuild the row texts, the hook, the counter.
    void Tick();
    // The same tick in two halves: ReadTable, the slow read of the connection table, which may run
    // on another thread (ConnectionSnapshot::ReadTable says what the tick's thread may do
    // meanwhile), then FinishTick on the tick's thread, after the read has ended.
    void ReadTable() { snapshot_.ReadTable(); }
    void FinishTick();

    // A header click: flip or move the order, sort the same records again, rebuild the rows.
    void OnColumnClick(int column);
    // Empties the list and resets the counters; the tables stay, so the next tick shows the same
    // connections with their old first-seen times.
    void RemoveAllItems();

    int rowCount() const { return table_.rowCount; }
    int listCount() const { return listCount_; }  // rows the list shows now
    const SessionRow& Row(int i) const { return rows_[static_cast<size_t>(i)]; }
    const SessionRecord& Record(int i) const { return *table_.displayOrder[static_cast<size_t>(i)]; }
    // The connection row i shows, as the poll kept it.
    KeptConnection Connection(int i) const {
        const SessionRecord& r = Record(i);
        return KeptConnection{r.key, static_cast<uint32_t>(r.state), r.pid, r.firstSeen};
    }

    // Every connection the last poll kept, the shown ones included: entries 0..rowCount()-1 are
    // the shown rows' connections (in table order, not display order), the rest are the
    // connections the list has no room for, then the half-closed ones it does not show, then the
    // IPv6 ones it does not show (ConnectionSnapshot::kept()).
    const std::vector<KeptConnection>& kept() const { return snapshot_.kept(); }
    // Entries 0..shownKeptCount()-1 of kept() are of an IP version the list shows (half-closed
    // ones included); the IPv6 connections it does not show (ShowIPv6 off) come after them.
    size_t shownKeptCount() const { return snapshot_.shownKeptCount(); }
    // Which state a row of a kept connection shows: the one the rules judge it by (a half-closed
    // connection as established), or the table's own.
    enum class KeptState { kJudged, kAsInTable };
    // The nine texts the list would show for `k` at tick `now`, built through `scratch`, with the
    // state `which` says. With kLookUp host names come from the host-name source, which is asked to
    // look up an address it does not know; with kNone the host texts are empty and nothing is asked.
    void BuildKeptRow(const KeptConnection& k, uint32_t now, SessionRecord& scratch, SessionRow& row,
                      KeptState which = KeptState::kJudged,
                      ConnectionSnapshot::HostNames names = ConnectionSnapshot::HostNames::kLookUp);
    ConnectionSnapshot& snapshot() { return snapshot_; }

    uint32_t shownCount() const { return shownCount_; }
    uint32_t maxCount() const { return maxCount_; }
    // " Connections (Max) :   12 (  40)", by language; while filtering
    // " Connections (Max) :   12 of  340 (  40)". The maximum counts the unfiltered rows.
    std::string CounterText() const;
    // True when the counter changed since the last call (the window repaints the label then).
    bool TakeCounterChanged();

    bool ProcessInfoAvailable() const { return snapshot_.ProcessInfoAvailable(); }
    // False when the last tick could not read the connection table (no rows is then no news).
    bool TableReadOk() const { return snapshot_.lastReadOk(); }
    const UiLanguage& language() const { return lang_; }
    const SessionSorter& sorter() const { return sorter_; }
    Clock& clock() { return clock_; }
    ProcessNameCache& processNames() { return processNames_; }
    SessionTable& table() { return table_; }

  private:
    void RefreshRows();
    void UpdateCounter() { counterChanged_ = true; }

    Clock& clock_;
    UiLanguage lang_;
    ProcessNameCache processNames_;
    ConnectionSnapshot snapshot_;
    SessionSorter sorter_;
    SessionTable table_;
    std::array<SessionRow, SessionTable::kSlots> rows_{};
    int listCount_ = 0;
    QuickFilter filter_;
    SessionRow filterRow_{};  // the texts a record is filtered by
    uint32_t unfilteredCount_ = 0;
    TickHook* hook_ = nullptr;

    bool running_ = false;
    uint32_t tickCount_ = 0;
    uint32_t shownCount_ = 0;
    uint32_t maxCount_ = 0;
    uint32_t resetMaxMinutes_ = 1440;
    bool counterChanged_ = true;
};

}  // namespace varnel
