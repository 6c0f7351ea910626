#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "display/CColorEdit.h"
#include "display/CListCtrlEx2.h"
#include "display/CListCtrlEx3.h"
#include "display/SessionListModel.h"
#include "gui/GuiTestSupport.h"
#include "options/ColorOptionsPage.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/HostNameSource.h"
#include "session/SessionMonitor.h"
#include "settings/SettingsFile.h"

namespace varnel {
namespace {

using namespace guitest;

constexpr QRgb kDefaultRed = 0xFFFF4040;  // every generic domain's default
constexpr QRgb kGreen = 0xFF00FF00;

class BizAndInfoNames : public HostNameSource {
  public:
    void LookupHostName(const char* address, char* out, size_t outSize) override {
        const char* name = std::strcmp(address, "10.0.0.1") == 0   ? "shop.example.biz"
                           : std::strcmp(address, "10.0.0.2") == 0 ? "wiki.example.info"
                                                                   : address;
        std::snprintf(out, outSize, "%s", name);
    }
};

// The page's OK reaches the session list and the log pane only through the settings file, when
// their colours are loaded again afterwards.
class ColorOptionsReloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        table.Add(kTcpEstablished, "192.168.1.5", 40001, "10.0.0.1", 443, 0);
        table.Add(kTcpEstablished, "192.168.1.5", 40002, "10.0.0.2", 443, 0);
        monitor = std::make_unique<SessionMonitor>(table, processes, clock, UiLanguage::English());
        monitor->SetHostNameSource(&names);
        monitor->Start();
        monitor->Tick();
        model = std::make_unique<SessionListModel>(*monitor, UiLanguage::English());
        list = std::make_unique<CListCtrlEx3>();
        list->setModel(model.get());
        list->SetUp(settings);
        for (int c = 0; c < model->columnCount(); ++c) list->setColumnWidth(c, 150);
        list->resize(1400, 200);
        list->show();
        pane.setPlainText("BLOCKED [2026/12/08 10:00:00]");
        pane.resize(300, 80);
        pane.show();
    }

    int RowOf(const char* host) const {
        for (int r = 0; r < model->rowCount(); ++r)
            if (model->data(model->index(r, kColRemoteHost)).toString() == host) return r;
        ADD_FAILURE() << host;
        return 0;
    }
    int Count(const char* host, QRgb colour) {
        const QImage img = Grab(list->viewport());
        return CountColour(img, list->visualRect(model->index(RowOf(host), kColRemoteHost)), colour);
    }
    void Ok(ColorOptionsPage& page) {
        page.SetApplyFlag(true);
        ASSERT_TRUE(page.Apply());
        list->LoadColours(settings);
        pane.LoadColours(settings);
    }

    FixedLook look;
    TempSettings temp;
    SettingsFile settings{temp.path()};
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    BizAndInfoNames names;
    std::unique_ptr<SessionMonitor> monitor;
    std::unique_ptr<SessionListModel> model;
    std::unique_ptr<CListCtrlEx3> list;
    CColorEdit pane;
};

TEST_F(ColorOptionsReloadTest, BizChangedAndOkRepaintsBizHostsOnly) {
    ASSERT_GT(Count("shop.example.biz", kDefaultRed), 5);
    ASSERT_GT(Count("wiki.example.info", kDefaultRed), 5);

    ColorOptionsPage page(settings, UiLanguage::English());
    page.LoadSettings();
    page.SetChooser([](QWidget*, uint32_t) -> std::optional<uint32_t> { return 0x00FF00; });
    page.list()->selectRow(ColorScheme::kBiz);
    page.EditSelected();
    // Nothing reaches the list before OK.
    list->LoadColours(settings);
    EXPECT_EQ(Count("shop.example.biz", kGreen), 0);

    Ok(page);
    EXPECT_GT(Count("shop.example.biz", kGreen), 5);
    EXPECT_EQ(Count("shop.example.biz", kDefaultRed), 0);
    EXPECT_GT(Count("wiki.example.info", kDefaultRed), 5);
    EXPECT_EQ(Count("wiki.example.info", kGreen), 0);
}

TEST_F(ColorOptionsReloadTest, TextColoursChangedAndOkRepaintTheLogPane) {
    ColorOptionsPage page(settings, UiLanguage::English());
    page.LoadSettings();
    page.SetChooser([](QWidget*, uint32_t) -> std::optional<uint32_t> { return 0x00FF00; });
    page.list()->selectRow(ColorScheme::kText);
    page.EditSelected();
    Ok(page);
    EXPECT_EQ(pane.textColour(), 0x00FF00u);
    const QImage img = Grab(pane.viewport());
    EXPECT_GT(CountColour(img, img.rect(), kGreen), 10);
    EXPECT_EQ(CountColour(img, img.rect(), 0xFFFFFFFF), 0);
}

}  // namespace
}  // namespace varnel
