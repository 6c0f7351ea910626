#include <gtest/gtest.h>

#include <QHeaderView>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "display/CListCtrlEx2.h"
#include "display/ColorListDelegate.h"
#include "gui/GuiTestSupport.h"
#include "options/ColorOptionsPage.h"
#include "settings/SettingsFile.h"

namespace varnel {
namespace {

using namespace guitest;

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class ColorOptionsPageTest : public ::testing::Test {
  protected:
    void Make(const UiLanguage& lang = UiLanguage::English()) {
        page = std::make_unique<ColorOptionsPage>(settings, lang);
        page->SetChooser([this](QWidget*, uint32_t current) -> std::optional<uint32_t> {
            offered.push_back(current);
            return chosen;
        });
        page->SetQuestion([this](QWidget*, const QString& text) {
            asked.push_back(text);
            return yes;
        });
        page->LoadSettings();
        page->show();
        QApplication::processEvents();
    }
    void DoubleClick(int row) {
        page->list()->selectRow(row);
        emit page->list()->doubleClicked(page->list()->model()->index(row, 0));
    }
    void Ok() {
        page->SetApplyFlag(true);
        ASSERT_TRUE(page->Apply());
    }

    FixedLook look;
    TempSettings temp;
    SettingsFile settings{temp.path()};
    std::unique_ptr<ColorOptionsPage> page;
    std::optional<uint32_t> chosen;
    std::vector<uint32_t> offered;
    std::vector<QString> asked;
    bool yes = true;
};

TEST_F(ColorOptionsPageTest, EmptySettingsShowDefaultsAndOkWritesAll37) {
    Make();
    CListCtrlEx2* list = page->list();
    ASSERT_EQ(list->ItemCount(), ColorScheme::kItemCount);
    EXPECT_EQ(list->ItemText(0, 0), "0%");
    EXPECT_EQ(list->ItemText(0, 1), "Background color");
    EXPECT_EQ(list->ItemText(1, 0), "16777215%");
    EXPECT_EQ(list->ItemText(1, 1), "Normal Text color");
    EXPECT_EQ(list->ItemText(2, 0), QString::number(0x80FFFF) + "%");  // #FFFF80
    EXPECT_EQ(list->ItemText(36, 1), "Other Domain");
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), "Color");
    EXPECT_EQ(list->model()->headerData(1, Qt::Horizontal).toString(), "Item Name");
    EXPECT_EQ(list->columnWidth(0), 100);
    EXPECT_EQ(list->columnWidth(1), 300);
    EXPECT_EQ(page->defaultButton()->text(), "Default Color");
    EXPECT_GE(page->defaultButton()->width(), page->defaultButton()->sizeHint().width()) << "caption cut";
    EXPECT_EQ(page->Title(), "Color");
    EXPECT_FALSE(std::filesystem::exists(temp.path()));

    Ok();
    const std::string text = FileText(temp.path());
    EXPECT_NE(text.find("Color_TextBk=0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Color_Text=16777215\n"), std::string::npos) << text;
    for (int i = 0; i < ColorScheme::kItemCount; ++i) {
        const ColorItem& item = ColorScheme::Item(i);
        EXPECT_EQ(settings.ReadInt("Surveil", item.key, -5), static_cast<int>(item.defaultColour))
            << item.key;
    }
}

TEST_F(ColorOptionsPageTest, StoredColoursAreShownAndApplyWithoutTheFlagWritesNothing) {
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_com", -1));
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_biz", 0x123456));
    const std::string before = FileText(temp.path());
    Make();
    EXPECT_EQ(page->list()->ItemText(ColorScheme::kCom, 0), "-1%");
    EXPECT_EQ(page->list()->ItemText(ColorScheme::kBiz, 0), QString::number(0x123456) + "%");
    EXPECT_TRUE(page->Apply());  // flag clear: a Cancel
    EXPECT_EQ(FileText(temp.path()), before);
}

TEST_F(ColorOptionsPageTest, DoubleClickChangesOneItemAndOkWritesIt) {
    Make();
    chosen = 0x00FF00;  // #00FF00
    DoubleClick(ColorScheme::kBiz);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], ColorScheme::Item(ColorScheme::kBiz).defaultColour);
    EXPECT_EQ(page->list()->ItemText(ColorScheme::kBiz, 0), QString::number(0x00FF00) + "%");
    EXPECT_EQ(page->colours().colour(ColorScheme::kBiz), 0x00FF00u);

    // A cancelled chooser leaves the item as it is.
    chosen.reset();
    DoubleClick(ColorScheme::kInfo);
    EXPECT_EQ(page->colours().colour(ColorScheme::kInfo),
              ColorScheme::Item(ColorScheme::kInfo).defaultColour);

    EXPECT_FALSE(std::filesystem::exists(temp.path()));  // nothing before OK
    Ok();
    EXPECT_EQ(settings.ReadInt("Surveil", "Color_biz", -5), 0x00FF00);
    EXPECT_EQ(settings.ReadInt("Surveil", "Color_info", -5),
              static_cast<int>(ColorScheme::Item(ColorScheme::kInfo).defaultColour));
}

TEST_F(ColorOptionsPageTest, DoubleClickKeepsTheScrollPositionAndShowsTheNewSwatch) {
    Make();
    CListCtrlEx2* list = page->list();
    list->EnsureVisible(30);
    QApplication::processEvents();
    const int top = list->rowAt(0);
    ASSERT_GT(top, 0);
    chosen = 0x0000FF;  // #FF0000
    DoubleClick(28);
    QApplication::processEvents();
    EXPECT_EQ(list->rowAt(0), top);
    const QImage img = Grab(list);
    const QRect cell = list->visualRect(list->model()->index(28, 0)).translated(list->viewport()->pos());
    const QRect fill = ColorListDelegate::SwatchRect(cell);
    EXPECT_EQ(CountColour(img, fill, 0xFFFF0000), fill.width() * fill.height());
}

TEST_F(ColorOptionsPageTest, DefaultColorAsksAndYesRestoresDefaults) {
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_TextBk", 0x112233));
    Make();
    yes = false;
    page->defaultButton()->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "Back to the default settings. \nAre you sure?");
    EXPECT_EQ(page->colours().colour(ColorScheme::kTextBk), 0x112233u);
    yes = true;
    page->defaultButton()->click();
    EXPECT_EQ(page->colours().colour(ColorScheme::kTextBk), 0u);
    EXPECT_EQ(page->list()->ItemText(0, 0), "0%");
}

TEST_F(ColorOptionsPageTest, DefaultColorThenCancelLeavesTheFileAsItWas) {
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_TextBk", 0x112233));
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_biz", 0x445566));
    const std::string before = FileText(temp.path());
    Make();
    page->RestoreDefaults();
    page->SetApplyFlag(false);
    EXPECT_TRUE(page->Apply());
    page.reset();
    EXPECT_EQ(FileText(temp.path()), before);
}

TEST_F(ColorOptionsPageTest, JapaneseLabels) {
    Make(UiLanguage::Japanese());
    CListCtrlEx2* list = page->list();
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("カラー"));
    EXPECT_EQ(list->model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("項目名"));
    EXPECT_EQ(list->ItemText(0, 1), QString::fromUtf8("背景"));
    EXPECT_EQ(list->ItemText(36, 1), QString::fromUtf8("その他のドメイン"));
    EXPECT_EQ(page->defaultButton()->text(), QString::fromUtf8("デフォルト色"));
    EXPECT_EQ(page->Title(), QString::fromUtf8("色設定"));
    page->RestoreDefaults();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], QString::fromUtf8("設定をデフォルトに戻します.\nよろしいですか？"));
}

}  // namespace
}  // namespace varnel
