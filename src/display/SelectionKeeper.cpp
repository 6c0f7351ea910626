#include "display/SelectionKeeper.h"

#include <QItemSelectionModel>

#include "display/SessionListModel.h"

namespace varnel {

SelectionKeeper::SelectionKeeper(SessionListModel& model, QItemSelectionModel& selection, QObject* parent)
    : QObject(parent), model_(model), selection_(selection) {
    // The model's row moves change the view's selection on their own; those changes are not the
    // user's and are put right once the refresh is done.
    connect(&model_, &SessionListModel::aboutToRefresh, this, [this] { refreshing_ = true; });
    connect(&model_, &SessionListModel::refreshed, this, &SelectionKeeper::Restore);
    connect(&selection_, &QItemSelectionModel::selectionChanged, this, [this] {
        if (!refreshing_) Remember();
    });
    connect(&selection_, &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& now) {
        if (refreshing_) return;
        hasCurrent_ = now.isValid();
        if (hasCurrent_) current_ = model_.KeyAt(now.row());
    });
    Remember();
}

void SelectionKeeper::Remember() {
    keys_.clear();
    for (const QModelIndex& index : selection_.selectedRows()) keys_.insert(model_.KeyAt(index.row()));
}

void SelectionKeeper::Restore() {
    const int rows = model_.rowCount();
    const int lastColumn = model_.columnCount() - 1;
    QItemSelection wanted;
    std::unordered_set<ConnectionKey, ConnectionKeyHash> found;
    int currentRow = -1;
    // Consecutive rows go into one range: a selection of many rows stays a few ranges.
    int start = -1;
    for (int r = 0; r <= rows; ++r) {
        bool in = false;
        if (r < rows) {
            const ConnectionKey key = model_.KeyAt(r);
            in = !keys_.empty() && keys_.count(key) != 0;
            if (in) found.insert(key);
            if (hasCurrent_ && currentRow < 0 && key == current_) currentRow = r;
        }
        if (in && start < 0) start = r;
        if (!in && start >= 0) {
            if (lastColumn >= 0) wanted.select(model_.index(start, 0), model_.index(r - 1, lastColumn));
            start = -1;
        }
    }
    keys_ = std::move(found);
    if (currentRow >= 0)
        selection_.setCurrentIndex(model_.index(currentRow, 0), QItemSelectionModel::NoUpdate);
    else if (hasCurrent_)
        selection_.setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    selection_.select(wanted, QItemSelectionModel::ClearAndSelect);
    refreshing_ = false;
}

std::vector<ConnectionKey> SelectionKeeper::SelectedKeys() const {
    std::vector<ConnectionKey> out;
    for (int r = 0; r < model_.rowCount(); ++r) {
        const ConnectionKey key = model_.KeyAt(r);
        if (keys_.count(key) != 0) out.push_back(key);
    }
    return out;
}

void SelectionKeeper::Clear() {
    selection_.clearSelection();
    keys_.clear();
}

}  // namespace varnel
