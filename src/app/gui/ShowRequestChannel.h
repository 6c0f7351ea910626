#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace varnel {

// How a start that the user turned down ("Already started. Continue?" answered No) brings the
// running copy's window forward: the running copy listens on a local socket beside its
// single-instance lock (in the user's runtime folder, readable by this user only), and the refused
// start connects to it and says "show". Nothing else is read from the socket, so a stranger that
// reaches it can at most bring the window forward.
//
// Owned by the running program; GUI thread only.
class ShowRequestChannel : public QObject {
    Q_OBJECT

  public:
    // The socket's path for the lock at `lockPath` ("<runtime folder>/<base>.lock" gives
    // "<runtime folder>/<base>.show").
    static QString PathForLock(const std::string& lockPath);

    explicit ShowRequestChannel(QString path, QObject* parent = nullptr);
    ~ShowRequestChannel() override;

    // Only the copy that holds the lock alone listens: a left-over socket of a copy that ended
    // is removed first. False when the socket could not be made (the window then stays where it
    // is on a refused start; nothing else depends on it).
    bool Listen();
    // From the refused start: asks the running copy to show its window. False when no copy
    // answered within `timeoutMs`.
    static bool Ring(const QString& path, int timeoutMs = 1000);

  signals:
    // A refused start asked for the window.
    void showRequested();

  private:
    QString path_;
    QLocalServer* server_ = nullptr;
};

}  // namespace varnel
