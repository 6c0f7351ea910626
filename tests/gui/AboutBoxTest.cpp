#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "app/gui/AboutBox.h"

namespace varnel {
namespace {

void Click(QWidget* target) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    const QPointF global = target->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

TEST(AboutBoxTest, VersionNoticeIconAndALinkThatLooksLikeOne) {
    AboutBox box(UiLanguage::English());
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_EQ(box.versionLabel()->text(), "Varnel (Kestrin) Version 0.31");
    EXPECT_FALSE(box.noticeLabel()->text().isEmpty());
    ASSERT_FALSE(box.iconLabel()->pixmap().isNull());
    EXPECT_EQ(box.iconLabel()->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(box.linkLabel()->text(), "https://varnel.example.org/");
    EXPECT_TRUE(box.linkLabel()->font().underline());
    EXPECT_EQ(box.linkLabel()->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(box.linkLabel()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(box.versionLabel()->font().underline());
    EXPECT_NE(box.versionLabel()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(box.okButton()->isDefault());

    AboutBox jp(UiLanguage::Japanese());
    EXPECT_EQ(jp.windowTitle(), QString("バージョン情報"));
    EXPECT_EQ(jp.versionLabel()->text(), "Varnel (Kestrin) Version 0.31");
}

TEST(AboutBoxTest, ClickOpensTheAddressAndAFailureIsToldWithTheBoxStillOpen) {
    for (bool japanese : {false, true}) {
        AboutBox box(japanese ? UiLanguage::Japanese() : UiLanguage::English());
        QList<QUrl> opened;
        QStringList warnings;
        bool opens = true;
        box.SetOpenUrl([&](const QUrl& url) {
            opened << url;
            return opens;
        });
        box.SetWarn([&](const QString& text) { warnings << text; });
        box.show();
        Click(box.linkLabel());
        ASSERT_EQ(opened.size(), 1);
        EXPECT_EQ(opened[0], QUrl("https://varnel.example.org/"));
        EXPECT_TRUE(warnings.isEmpty());

        opens = false;
        Click(box.linkLabel());
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_EQ(warnings[0],
                  japanese ? QString("URLが開けませんでした。") : QString("Failed to open URL."));
        EXPECT_TRUE(box.isVisible());
        EXPECT_EQ(box.result(), 0);

        // A click elsewhere opens nothing.
        Click(box.versionLabel());
        EXPECT_EQ(opened.size(), 2);
    }
}

}  // namespace
}  // namespace varnel
