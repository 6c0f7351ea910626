#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

#include "settings/UiLanguage.h"

class QLabel;
class QPushButton;

namespace varnel {

// The About box: the icon, "Varnel (Kestrin) Version 0.31", a notice line and the project's web
// address as a link (blue, underlined, hand cursor). A click on the link opens it in the desktop's
// browser; when that fails, "Failed to open URL." is shown and the box stays open. OK, Esc and the
// close box end it.
//
// GUI thread only.
class AboutBox : public QDialog {
    Q_OBJECT

  public:
    static constexpr const char* kVersionText = "Varnel (Kestrin) Version 0.31";
    static constexpr const char* kUrl = "https://varnel.example.org/";

    // How the link is opened and a failure shown; replaceable so that tests see them without a
    // browser or a modal box.
    using OpenUrl = std::function<bool(const QUrl& url)>;
    using Warn = std::function<void(const QString& text)>;

    explicit AboutBox(const UiLanguage& lang, QWidget* parent = nullptr);

    // The link's click: opens the address; false (after the failure box) when it could not.
    bool OpenLink();

    QLabel* linkLabel() const { return link_; }
    QLabel* iconLabel() const { return icon_; }
    QLabel* versionLabel() const { return version_; }
    QLabel* noticeLabel() const { return notice_; }
    QPushButton* okButton() const { return ok_; }

    void SetOpenUrl(OpenUrl open) { openUrl_ = std::move(open); }
    void SetWarn(Warn warn) { warn_ = std::move(warn); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    UiLanguage lang_;
    QLabel* icon_ = nullptr;
    QLabel* version_ = nullptr;
    QLabel* notice_ = nullptr;
    QLabel* link_ = nullptr;
    QPushButton* ok_ = nullptr;
    OpenUrl openUrl_;
    Warn warn_;
};

}  // namespace varnel
