#pragma once

#include <QObject>
#include <QPointer>

#include "platform/PrivilegedReset.h"
#include "settings/UiLanguage.h"

class QDialog;
class QWidget;

namespace varnel {

// Where resets go through the helper, asks for the administrator's password at the moments the
// user can expect it: before a Kill Session, with a modal wait the user can cancel until the
// prompt is answered, so the chosen connections are cut at once afterwards; and when auto kill is
// switched on, without waiting (the kill pass tries again each tick until the helper is ready).
// Where this process resets directly, it does nothing.
//
// Borrows `reset`, which must outlive this object. GUI thread only.
class ResetAuthorization : public QObject {
    Q_OBJECT

  public:
    static constexpr int kPollMs = 100;

    ResetAuthorization(PrivilegedReset& reset, UiLanguage lang, QObject* parent = nullptr);

    // The window the wait is shown over; may be null.
    void SetParentWidget(QWidget* parent) { parentWidget_ = parent; }
    // MonitorPlatform::prepareReset.
    void Prepare(bool forKill);
    // The wait while it is shown (tests), else null.
    QDialog* waitDialog() const { return wait_; }

  private:
    void Wait();

    PrivilegedReset& reset_;
    UiLanguage lang_;
    QPointer<QWidget> parentWidget_;
    QPointer<QDialog> wait_;
};

}  // namespace varnel
