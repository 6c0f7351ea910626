#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "settings/UiLanguage.h"
#include "display/core/ColorScheme.h"
#include "session/SessionMonitor.h"
#include "session/SessionRow.h"

namespace varnel {

// The session list's rows as a table model over a SessionMonitor: row i shows monitor.Row(i), up to
// monitor.listCount() rows; nine columns, or eight when the connection table names no owners.
//
// Roles: DisplayRole the cell text; ForegroundRole / BackgroundRole the cell's QColor under the
// scheme (never highlighted: the view's delegate replaces both for selected rows); TextAlignmentRole
// the column's alignment (Port1, Port2 and Time right, the rest left; always vertically centred);
// kFramedRole true on the Status cell, which is drawn framed and centred. Horizontal header:
// the column titles of the language.
//
// The monitor is borrowed and must outlive the model. The model reads the monitor's rows when a view
// asks, so after the monitor changes its rows (tick, header click, removal of all items) Refresh must
// be called before the next paint. UI thread only.
class SessionListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kFramedRole = Qt::UserRole + 1;

    SessionListModel(SessionMonitor& monitor, const UiLanguage& lang, QObject* parent = nullptr);

    // Brings the views up to the monitor's rows without a reset: rows added or removed at the end,
    // then, for each column whose texts changed at surviving positions, one dataChanged from the
    // first to the last changed row of that column (all roles: a cell's colours follow its text).
    // Unchanged cells are not signalled, so a view repaints only what a tick changed. A change of
    // the column count signals every cell. The views' own selection stays on row positions;
    // aboutToRefresh and refreshed bracket the change so that a SelectionKeeper can move it back
    // onto the connections. Allocates only while the list grows past its largest size so far.
    void Refresh();
    // The connection row `row` showed when the views were last told (before Refresh has told them
    // of a change, the old one). All zero outside the rows.
    ConnectionKey KeyAt(int row) const;
    // While frozen (monitoring stopped) every cell's text takes kFrozenTextColour: the rows no
    // longer follow the table. Signals every cell when it changes.
    void SetFrozen(bool frozen);
    bool frozen() const { return frozen_; }
    static constexpr uint32_t kFrozenTextColour = 0x808080;
    // Takes the scheme and signals every cell's colours at once.
    void SetColorScheme(const ColorScheme& scheme);
    const ColorScheme& colorScheme() const { return scheme_; }

    static Qt::Alignment ColumnAlignment(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  signals:
    void aboutToRefresh();
    void refreshed();

  private:
    int MonitorColumns() const;
    void RefreshRows();
    // Copies the monitor's first `rows` rows' texts into shown_.
    void RememberRows(int rows);

    SessionMonitor& monitor_;
    UiLanguage lang_;
    ColorScheme scheme_;
    int rows_ = 0;  // what the views were last told
    int columns_ = 0;
    bool frozen_ = false;
    // The texts the views were last told about, row by row; its size only grows.
    std::vector<SessionRow> shown_;
};

}  // namespace varnel
