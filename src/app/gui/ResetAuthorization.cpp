#include "app/gui/ResetAuthorization.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace varnel {

ResetAuthorization::ResetAuthorization(PrivilegedReset& reset, UiLanguage lang, QObject* parent)
    : QObject(parent), reset_(reset), lang_(lang) {}

void ResetAuthorization::Prepare(bool forKill) {
    using State = PrivilegedReset::HelperState;
    const State state = reset_.Poll();
    if (state == State::kNotNeeded || state == State::kReady) return;
    // Either way the user has just asked for cuts: a prompt given up on a moment ago is shown again.
    if (!forKill) {
        reset_.StartHelper(true);
        return;
    }
    // A wait already showing (a second Kill Session from the tray) has the prompt in hand.
    if (wait_) return;
    reset_.StartHelper(true);
    if (reset_.Poll() == State::kStarting) Wait();
}

void ResetAuthorization::Wait() {
    QDialog dialog(parentWidget_);
    wait_ = &dialog;
    dialog.setWindowTitle(QString::fromUtf8(lang_.Pick("接続の切断", "Kill Session")));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromUtf8(lang_.Pick(
        "接続を切断するには管理者の認証が必要です。\nパスワードの入力を待っています…",
        "Cutting connections needs the administrator's authorization.\nWaiting for the password…"))));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    QTimer poll;
    poll.setInterval(kPollMs);
    connect(&poll, &QTimer::timeout, &dialog, [this, &dialog] {
        if (reset_.Poll() != PrivilegedReset::HelperState::kStarting) dialog.accept();
    });
    poll.start();
    const int result = dialog.exec();
    poll.stop();
    wait_ = nullptr;
    if (result != QDialog::Accepted)
        reset_.StopHelper("cancelled while waiting for the administrator's password");
}

}  // namespace varnel
