#include <gtest/gtest.h>

#include "settings/SettingsFile.h"
#include "display/CColorEdit.h"
#include "gui/GuiTestSupport.h"

namespace varnel {
namespace {

using namespace guitest;

class ColorEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        edit.resize(300, 120);
        edit.setPlainText("BLOCKED [MMMM]");
        edit.show();
    }
    QImage GrabArea() { return Grab(edit.viewport()); }

    FixedLook look;  // first: outlives the widgets
    TempSettings settingsPath;
    CColorEdit edit;
};

TEST_F(ColorEditTest, WhiteOnBlackWithoutKeys) {
    edit.LoadColours(SettingsFile(settingsPath.path()));
    EXPECT_TRUE(edit.isReadOnly());
    EXPECT_EQ(edit.textColour(), 0xFFFFFFu);
    EXPECT_EQ(edit.backgroundColour(), 0u);
    const QImage img = GrabArea();
    EXPECT_EQ(Pixel(img, img.width() - 2, img.height() - 2), 0xFF000000);
    EXPECT_GT(CountColour(img, img.rect(), 0xFFFFFFFF), 10);
}

TEST_F(ColorEditTest, WholeAreaInReloadedColours) {
    SettingsFile settings(settingsPath.path());
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_TextBk", 0x403020));  // #203040
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_Text", 0x00FFFF));    // #FFFF00
    edit.LoadColours(settings);
    QImage img = GrabArea();
    const int bk = CountColour(img, img.rect(), 0xFF203040);
    const int text = CountColour(img, img.rect(), 0xFFFFFF00);
    EXPECT_GT(text, 10);
    EXPECT_EQ(bk + text, img.width() * img.height());  // nothing else in the whole area

    // A later load without the keys goes back to white on black, not to the last colours.
    std::remove(settingsPath.path().c_str());
    edit.LoadColours(settings);
    img = GrabArea();
    EXPECT_EQ(Pixel(img, img.width() - 2, img.height() - 2), 0xFF000000);

    // Losing the focus or being disabled does not change the colours.
    edit.setEnabled(false);
    img = GrabArea();
    EXPECT_EQ(Pixel(img, img.width() - 2, img.height() - 2), 0xFF000000);
    EXPECT_GT(CountColour(img, img.rect(), 0xFFFFFFFF), 10);
}

}  // namespace
}  // namespace varnel
