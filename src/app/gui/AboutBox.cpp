#include "app/gui/AboutBox.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "display/AppIcon.h"

namespace varnel {

namespace {

constexpr int kIconSize = 32;

}  // namespace

AboutBox::AboutBox(const UiLanguage& lang, QWidget* parent) : QDialog(parent), lang_(lang) {
    setWindowTitle(lang_.Pick("バージョン情報", "About"));
    setWindowIcon(AppIcon());
    openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    warn_ = [this](const QString& text) {
        QMessageBox::warning(this, QGuiApplication::applicationDisplayName(), text);
    };

    auto* group = new QGroupBox(this);
    icon_ = new QLabel(group);
    icon_->setPixmap(AppIcon().pixmap(kIconSize, kIconSize));
    icon_->setFixedSize(kIconSize, kIconSize);
    version_ = new QLabel(kVersionText, group);
    notice_ = new QLabel(lang_.Pick("このマシンの TCP 接続を見守り、規則に合うものを切断します。",
                                    "Watches this machine's TCP connections and cuts those the rules name."),
                         group);

    link_ = new QLabel(QString::fromLatin1(kUrl), group);
    link_->setAlignment(Qt::AlignCenter);
    link_->setTextFormat(Qt::PlainText);
    QFont underlined = link_->font();
    underlined.setUnderline(true);
    link_->setFont(underlined);
    QPalette blue = link_->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    link_->setPalette(blue);
    link_->setCursor(Qt::PointingHandCursor);
    link_->installEventFilter(this);

    auto* texts = new QVBoxLayout;
    texts->addWidget(version_);
    texts->addWidget(notice_);
    auto* top = new QHBoxLayout;
    top->addWidget(icon_, 0, Qt::AlignTop);
    top->addSpacing(6);
    top->addLayout(texts, 1);
    auto* inner = new QVBoxLayout(group);
    inner->addLayout(top);
    inner->addSpacing(8);
    inner->addWidget(link_);

    ok_ = new QPushButton("OK", this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(group);
    outer->addWidget(ok_, 0, Qt::AlignHCenter);
}

bool AboutBox::OpenLink() {
    if (openUrl_ && openUrl_(QUrl(QString::fromLatin1(kUrl)))) return true;
    if (warn_) warn_(lang_.Pick("URLが開けませんでした。", "Failed to open URL."));
    return false;
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == link_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        link_->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        OpenLink();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace varnel
