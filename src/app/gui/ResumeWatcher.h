#pragma once

#include <QDBusConnection>
#include <QObject>

namespace varnel {

// Tells when the machine has resumed from suspend: the login manager's PrepareForSleep(false) on
// the system bus (org.freedesktop.login1, /org/freedesktop/login1, org.freedesktop.login1.Manager).
// Where there is no such bus the watcher simply never fires (listening() is false); the caller says
// so once at most.
//
// GUI thread only.
class ResumeWatcher : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kService = "org.freedesktop.login1";
    static constexpr const char* kPath = "/org/freedesktop/login1";
    static constexpr const char* kInterface = "org.freedesktop.login1.Manager";

    // `bus`: the system bus, or a test's private one.
    explicit ResumeWatcher(QDBusConnection bus, QObject* parent = nullptr);

    bool listening() const { return listening_; }

  signals:
    void resumed();

  private slots:
    void OnPrepareForSleep(bool start);

  private:
    bool listening_ = false;
};

}  // namespace varnel
