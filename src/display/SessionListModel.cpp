#include "display/SessionListModel.h"

#include <QColor>

#include "display/ColourRef.h"
#include "session/SessionRow.h"

namespace varnel {

SessionListModel::SessionListModel(SessionMonitor& monitor, const UiLanguage& lang, QObject* parent)
    : QAbstractTableModel(parent), monitor_(monitor), lang_(lang) {
    rows_ = monitor_.listCount();
    columns_ = MonitorColumns();
}

int SessionListModel::MonitorColumns() const {
    return monitor_.ProcessInfoAvailable() ? kColumnCount : kColumnCount - 1;
}

Qt::Alignment SessionListModel::ColumnAlignment(int column) {
    const bool right = column == kColLocalPort || column == kColRemotePort || column == kColTime;
    return (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

void SessionListModel::Refresh() {
    // Only the ends change shape, so every surviving row keeps its position and with it the
    // selection and scroll state of the views; a reset would drop both and flicker.
    const int columns = MonitorColumns();
    if (columns > columns_) {
        beginInsertColumns(QModelIndex(), columns_, columns - 1);
        columns_ = columns;
        endInsertColumns();
    } else if (columns < columns_) {
        beginRemoveColumns(QModelIndex(), columns, columns_ - 1);
        columns_ = columns;
        endRemoveColumns();
    }

    const int rows = monitor_.listCount();
    if (rows > rows_) {
        beginInsertRows(QModelIndex(), rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    } else if (rows < rows_) {
        beginRemoveRows(QModelIndex(), rows, rows_ - 1);
        rows_ = rows;
        endRemoveRows();
    }
    if (rows_ > 0 && columns_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1));
}

void SessionListModel::SetColorScheme(const ColorScheme& scheme) {
    scheme_ = scheme;
    if (rows_ > 0 && columns_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1),
                         {Qt::ForegroundRole, Qt::BackgroundRole});
}

int SessionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int SessionListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant SessionListModel::data(const QModelIndex& index, int role) const {
    const int row = index.row(), column = index.column();
    // rows_ may run ahead of the monitor between a tick and Refresh; never read past its list.
    if (!index.isValid() || row < 0 || row >= rows_ || row >= monitor_.listCount() || column < 0 ||
        column >= columns_)
        return QVariant();
    const char* text = monitor_.Row(row)[column];
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromUtf8(text);
        case Qt::ForegroundRole:
            return ToQColor(scheme_.CellColour(column, text, false, 0, 0).text);
        case Qt::BackgroundRole:
            return ToQColor(scheme_.colour(ColorScheme::kTextBk));
        case Qt::TextAlignmentRole:
            return static_cast<int>(ColumnAlignment(column));
        case kFramedRole:
            return column == kColStatus;
        default:
            return QVariant();
    }
}

QVariant SessionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns_) return QVariant();
    if (role == Qt::DisplayRole) return QString::fromUtf8(ColumnTitle(section, lang_));
    if (role == Qt::TextAlignmentRole) return static_cast<int>(ColumnAlignment(section));
    return QVariant();
}

}  // namespace varnel
