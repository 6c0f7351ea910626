#pragma once

#include <QObject>
#include <unordered_set>
#include <vector>

#include "session/KeptConnection.h"

class QItemSelectionModel;

namespace varnel {

class SessionListModel;

// Keeps the session list's selection on connections, not on row positions: the rows the user
// highlights are remembered by their four-tuples, and after every refresh of the model (a tick, a
// re-sort, rows inserted or removed above them) exactly the rows showing those connections are
// highlighted again, and the current row follows its connection too. A connection that is no
// longer shown loses its selection for good: it is not highlighted again if it comes back.
//
// Borrows the model and the selection model, which must outlive it (parent it to the view).
// GUI thread only.
class SelectionKeeper : public QObject {
    Q_OBJECT

  public:
    SelectionKeeper(SessionListModel& model, QItemSelectionModel& selection, QObject* parent = nullptr);

    // The highlighted connections, top to bottom as the list shows them now.
    std::vector<ConnectionKey> SelectedKeys() const;
    // Takes every highlight away (after a Kill Session, so repeating it cuts nothing more).
    void Clear();

  private:
    void Remember();
    void Restore();

    SessionListModel& model_;
    QItemSelectionModel& selection_;
    std::unordered_set<ConnectionKey, ConnectionKeyHash> keys_;
    ConnectionKey current_{};
    bool hasCurrent_ = false;
    bool refreshing_ = false;
};

}  // namespace varnel
