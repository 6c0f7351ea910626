#pragma once

#include <QObject>

class QSocketNotifier;

namespace varnel {

// SIGTERM and SIGINT as a Qt signal on the GUI thread. The handler only writes the signal's number
// to a pipe (write is async-signal-safe); a QSocketNotifier on the other end reads it in the event
// loop, where the program may save its settings and quit. No Qt call ever runs in the handler.
//
// One at a time: the handlers and the pipe are process-wide. The destructor puts the previous
// handlers back. GUI thread only.
class SignalBridge : public QObject {
    Q_OBJECT

  public:
    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;

  signals:
    void terminationRequested(int signal);

  private:
    void Drain();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace varnel
