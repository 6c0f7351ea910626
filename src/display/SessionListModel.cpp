#include "display/SessionListModel.h"

#include <QColor>
#include <algorithm>
#include <cstring>

#include "display/ColourRef.h"
#include "session/SessionRow.h"

namespace varnel {

SessionListModel::SessionListModel(SessionMonitor& monitor, const UiLanguage& lang, QObject* parent)
    : QAbstractTableModel(parent), monitor_(monitor), lang_(lang) {
    rows_ = monitor_.listCount();
    columns_ = MonitorColumns();
    RememberRows(rows_);
}

void SessionListModel::RememberRows(int rows) {
    if (shown_.size() < static_cast<size_t>(rows)) shown_.resize(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) shown_[static_cast<size_t>(r)] = monitor_.Row(r);
}

int SessionListModel::MonitorColumns() const {
    return monitor_.ProcessInfoAvailable() ? kColumnCount : kColumnCount - 1;
}

Qt::Alignment SessionListModel::ColumnAlignment(int column) {
    const bool right = column == kColLocalPort || column == kColRemotePort || column == kColTime;
    return (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

void SessionListModel::Refresh() {
    emit aboutToRefresh();
    RefreshRows();
    emit refreshed();
}

ConnectionKey SessionListModel::KeyAt(int row) const {
    if (row < 0 || row >= rows_ || static_cast<size_t>(row) >= shown_.size()) return {};
    return shown_[static_cast<size_t>(row)].key;
}

void SessionListModel::SetFrozen(bool frozen) {
    if (frozen == frozen_) return;
    frozen_ = frozen;
    if (rows_ > 0 && columns_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1), {Qt::ForegroundRole});
}

void SessionListModel::RefreshRows() {
    // Only the ends change shape, so every surviving row keeps its position and with it the
    // selection and scroll state of the views; a reset would drop both and flicker.
    const int columns = MonitorColumns();
    const bool columnsChanged = columns != columns_;
    if (columns > columns_) {
        beginInsertColumns(QModelIndex(), columns_, columns - 1);
        columns_ = columns;
        endInsertColumns();
    } else if (columns < columns_) {
        beginRemoveColumns(QModelIndex(), columns, columns_ - 1);
        columns_ = columns;
        endRemoveColumns();
    }

    const int oldRows = rows_;
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

    if (shown_.size() < static_cast<size_t>(rows_)) shown_.resize(static_cast<size_t>(rows_));
    if (columnsChanged) {
        RememberRows(rows_);
        if (rows_ > 0 && columns_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1));
        return;
    }
    // Inserted rows are painted by their insertion; only the surviving positions are compared.
    const int kept = std::min(oldRows, rows_);
    int first[kColumnCount], last[kColumnCount];
    for (int c = 0; c < columns_; ++c) first[c] = last[c] = -1;
    for (int r = 0; r < rows_; ++r) {
        const SessionRow& now = monitor_.Row(r);
        SessionRow& seen = shown_[static_cast<size_t>(r)];
        seen.key = now.key;
        for (int c = 0; c < columns_; ++c) {
            if (std::strcmp(now.text[c], seen.text[c]) == 0) continue;
            std::memcpy(seen.text[c], now.text[c], std::strlen(now.text[c]) + 1);
            if (r >= kept) continue;
            if (first[c] < 0) first[c] = r;
            last[c] = r;
        }
    }
    for (int c = 0; c < columns_; ++c)
        if (first[c] >= 0) emit dataChanged(index(first[c], c), index(last[c], c));
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
            if (frozen_) return ToQColor(kFrozenTextColour);
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
