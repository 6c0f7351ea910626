#pragma once

#include <QAbstractTableModel>

#include "app/core/UiLanguage.h"
#include "display/core/ColorScheme.h"
#include "session/SessionMonitor.h"

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
    // then one dataChanged over every cell. Selections, the current index and scroll positions stay
    // on their row positions.
    void Refresh();
    void SetColorScheme(const ColorScheme& scheme);
    const ColorScheme& colorScheme() const { return scheme_; }

    static Qt::Alignment ColumnAlignment(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    int MonitorColumns() const;

    SessionMonitor& monitor_;
    UiLanguage lang_;
    ColorScheme scheme_;
    int rows_ = 0;  // what the views were last told
    int columns_ = 0;
};

}  // namespace varnel
