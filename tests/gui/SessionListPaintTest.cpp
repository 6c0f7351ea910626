#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QScrollBar>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "settings/SettingsFile.h"
#include "display/CListCtrlEx3.h"
#include "display/CSortHeaderCtrl.h"
#include "display/SessionItemDelegate.h"
#include "display/SessionListModel.h"
#include "gui/GuiTestSupport.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/HostNameSource.h"
#include "session/SessionMonitor.h"

namespace varnel {
namespace {

using namespace guitest;

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kPink = 0xFFFF80FF;    // .co.jp
constexpr QRgb kRed = 0xFFFF4040;     // .com, and a Status other than established
constexpr QRgb kYellow = 0xFFFFFF80;  // address literal
constexpr QRgb kGreen = 0xFF80FF80;   // established Status

// Names for some addresses; every other address is shown as itself.
// Counts emissions of a signal (QtTest is not linked).
// The connection ends with the counter.
struct SignalCount {
    QObject context;
    int n = 0;
    int count() const { return n; }
    template <typename Sender, typename Signal>
    SignalCount(Sender* sender, Signal signal) {
        QObject::connect(sender, signal, &context, [this] { ++n; });
    }
};

class FixedNames : public HostNameSource {
  public:
    std::map<std::string, std::string> names;
    void LookupHostName(const char* address, char* out, size_t outSize) override {
        auto it = names.find(address);
        const std::string& text = it == names.end() ? std::string(address) : it->second;
        std::snprintf(out, outSize, "%s", text.c_str());
    }
};

class SessionListPaintTest : public ::testing::Test {
  protected:
    void SetUp() override {
        names.names = {{"10.0.0.1", "www.example.co.jp"},
                       {"10.0.0.2", "mail.example.com"},
                       {"10.0.0.4", "plainhost"},
                       {"10.0.0.5", "a-very-long-host-name-that-cannot-fit.example.com"}};
    }

    void AddDefaultRows() {
        table.Add(kTcpEstablished, "192.168.1.5", 40001, "10.0.0.1", 443, 0);
        table.Add(kTcpEstablished, "192.168.1.5", 40002, "10.0.0.2", 443, 0);
        table.Add(kTcpSynSent, "192.168.1.5", 40003, "10.0.0.3", 443, 0);
        table.Add(kTcpEstablished, "192.168.1.5", 40004, "10.0.0.4", 443, 0);
    }

    void Make(int width = 1000, int height = 300) {
        monitor = std::make_unique<SessionMonitor>(table, processes, clock, UiLanguage::English());
        monitor->SetHostNameSource(&names);
        monitor->Start();
        monitor->Tick();
        model = std::make_unique<SessionListModel>(*monitor, UiLanguage::English());
        list = std::make_unique<CListCtrlEx3>();
        list->setModel(model.get());
        list->SetUp(SettingsFile(settingsPath.path()));
        const int widths[] = {90, 90, 60, 90, 220, 60, 80, 100, 100};
        for (int c = 0; c < model->columnCount(); ++c) list->setColumnWidth(c, widths[c]);
        list->resize(width, height);
        list->show();
        QApplication::processEvents();
    }

    void Tick() {
        monitor->Tick();
        model->Refresh();
    }

    int RowOfRemoteAddress(const char* address) const {
        for (int i = 0; i < monitor->listCount(); ++i)
            if (std::strcmp(monitor->Row(i)[kColRemoteAddress], address) == 0) return i;
        ADD_FAILURE() << "no row for " << address;
        return 0;
    }
    QRect Cell(int row, int column) const { return list->visualRect(model->index(row, column)); }
    QImage GrabRows() { return Grab(list->viewport()); }

    FixedLook look;  // first: outlives the widgets
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    FixedNames names;
    TempSettings settingsPath;
    std::unique_ptr<SessionMonitor> monitor;
    std::unique_ptr<SessionListModel> model;
    std::unique_ptr<CListCtrlEx3> list;
};

TEST_F(SessionListPaintTest, SetUpGivesFixedRowsAndListBehaviour) {
    AddDefaultRows();
    Make();
    const int h = list->style()->pixelMetric(QStyle::PM_SmallIconSize) + 1;
    EXPECT_EQ(list->RowHeight(), h);
    EXPECT_EQ(list->rowHeight(0), h);
    EXPECT_EQ(Cell(1, 0).top(), h);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->horizontalScrollMode(), QAbstractItemView::ScrollPerPixel);
    EXPECT_FALSE(list->showGrid());
    EXPECT_EQ(list->sortHeader()->sortColumn(), -1);
    EXPECT_EQ(list->horizontalHeader(), list->sortHeader());
    // Empty settings: white on black, the colours the list starts with.
    EXPECT_EQ(list->textColour(), 0xFFFFFFu);
    EXPECT_EQ(list->backgroundColour(), 0u);
    EXPECT_EQ(list->selectedTextColour(), 0xFFFF00u);  // #00FFFF as 0x00BBGGRR
    EXPECT_EQ(list->selectionColour(), 0xC06030u);
}

TEST_F(SessionListPaintTest, HeaderClickReportsTheColumnAndKeepsTheSelection) {
    AddDefaultRows();
    Make();
    list->selectionModel()->select(model->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    int clicked = -1;
    QObject::connect(list->sortHeader(), &QHeaderView::sectionClicked, [&](int s) { clicked = s; });
    QWidget* headerArea = list->sortHeader()->viewport();
    const QPoint at(list->sortHeader()->sectionViewportPosition(kColRemoteHost) + 30, 5);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, QPointF(at), QPointF(headerArea->mapToGlobal(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(headerArea, &e);
    }
    EXPECT_EQ(clicked, kColRemoteHost);
    EXPECT_EQ(list->SelectedRows(), (QList<int>{1}));
    EXPECT_EQ(list->sortHeader()->sortColumn(), -1);  // the header does not sort by itself
}

TEST_F(SessionListPaintTest, HostCellsInTheirDomainColours) {
    AddDefaultRows();
    Make();
    const QImage img = GrabRows();
    struct Expect {
        const char* address;
        QRgb colour;
    };
    for (const Expect& e : {Expect{"10.0.0.1", kPink}, Expect{"10.0.0.2", kRed}, Expect{"10.0.0.3", kYellow},
                            Expect{"10.0.0.4", kWhite}}) {
        const QRect cell = Cell(RowOfRemoteAddress(e.address), kColRemoteHost);
        EXPECT_GT(CountColour(img, cell, e.colour), 10) << e.address;
        for (QRgb other : {kPink, kRed, kYellow, kWhite}) {
            if (other != e.colour) {
                EXPECT_EQ(CountColour(img, cell, other), 0) << e.address;
            }
        }
        // The background fills the cell.
        EXPECT_EQ(Pixel(img, cell.left(), cell.top()), kBlack);
    }
    // Address columns are address literals; the port, digits only, is normal text.
    const int row = RowOfRemoteAddress("10.0.0.1");
    EXPECT_GT(CountColour(img, Cell(row, kColLocalAddress), kYellow), 10);
    EXPECT_GT(CountColour(img, Cell(row, kColRemoteAddress), kYellow), 10);
    EXPECT_GT(CountColour(img, Cell(row, kColRemotePort), kWhite), 5);
    EXPECT_EQ(CountColour(img, Cell(row, kColRemotePort), kYellow), 0);
}

TEST_F(SessionListPaintTest, StatusCellFramedInItsStateColour) {
    AddDefaultRows();
    Make();
    const QImage img = GrabRows();
    for (auto [address, colour] : {std::pair{"10.0.0.1", kGreen}, std::pair{"10.0.0.3", kRed}}) {
        const QRect cell = Cell(RowOfRemoteAddress(address), kColStatus);
        // Frame 1 px inside the cell on all four sides; the cell's own edge stays background.
        EXPECT_EQ(Pixel(img, cell.left(), cell.top()), kBlack) << address;
        EXPECT_EQ(Pixel(img, cell.left() + 1, cell.top() + 1), colour) << address;
        EXPECT_EQ(Pixel(img, cell.right() - 1, cell.bottom() - 1), colour) << address;
        EXPECT_EQ(Pixel(img, cell.center().x(), cell.top() + 1), colour) << address;
        EXPECT_EQ(Pixel(img, cell.center().x(), cell.bottom() - 1), colour) << address;
        EXPECT_EQ(Pixel(img, cell.left() + 1, cell.center().y()), colour) << address;
        EXPECT_EQ(Pixel(img, cell.right(), cell.center().y()), kBlack) << address;
        // Text inside the frame, in the same colour, centred: as much room left as right.
        const QRect inner = cell.adjusted(2, 2, -2, -2);
        EXPECT_GT(CountColour(img, inner, colour), 10) << address;
        int minX = cell.right(), maxX = cell.left();
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            for (int x = inner.left(); x <= inner.right(); ++x)
                if (Pixel(img, x, y) == colour) minX = std::min(minX, x), maxX = std::max(maxX, x);
        EXPECT_LE(std::abs((minX - cell.left()) - (cell.right() - maxX)), 2) << address;
    }
}

TEST_F(SessionListPaintTest, SelectedRowHighlightedWithoutFocus) {
    AddDefaultRows();
    Make();
    const int row = RowOfRemoteAddress("10.0.0.1");
    list->selectionModel()->select(model->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->clearFocus();
    ASSERT_FALSE(list->hasFocus());
    const QImage img = GrabRows();
    const QRect host = Cell(row, kColRemoteHost);
    EXPECT_EQ(Pixel(img, host.left(), host.top()), kHighlight);
    EXPECT_GT(CountColour(img, host, kHighlightedText), 10);
    EXPECT_EQ(CountColour(img, host, kPink), 0);
    const QRect status = Cell(row, kColStatus);
    EXPECT_EQ(Pixel(img, status.left(), status.top()), kHighlight);
    EXPECT_EQ(Pixel(img, status.left() + 1, status.top() + 1), kHighlightedText);
    EXPECT_EQ(CountColour(img, status, kGreen), 0);
    // Other rows stay in the scheme's colours; no focus rectangle anywhere.
    const int other = RowOfRemoteAddress("10.0.0.2");
    EXPECT_EQ(Pixel(img, Cell(other, 0).left(), Cell(other, 0).top()), kBlack);
    EXPECT_EQ(CountColour(img, Cell(other, kColRemoteHost), kHighlight), 0);
}

TEST_F(SessionListPaintTest, Ipv6RowsAreColouredByDomainAndElidedInTheUsersWidths) {
    const char* kLong = "2001:db8:1234:5678:9abc:def0:1234:5678";
    names.names["2001:db8::2"] = "www.example.co.jp";
    names.names[kLong] = "mail.example.co.jp";
    table.Add(kTcpEstablished, "2001:db8::1", 40010, "2001:db8::2", 443, 0);
    table.Add(kTcpEstablished, "2001:db8::1", 40011, kLong, 443, 0);
    table.Add(kTcpEstablished, "2001:db8::1", 40012, "2001:db8::9", 443, 0);
    table.Add(kTcpEstablished, "192.168.1.5", 40001, "10.0.0.2", 443, 0);
    Make();
    ASSERT_EQ(monitor->listCount(), 1) << "ShowIPv6 is off";
    monitor->SetShowIpv6(true);
    Tick();
    ASSERT_EQ(monitor->listCount(), 4);
    const QImage img = GrabRows();
    // A named IPv6 address takes its name's colour; an unnamed one shows as an address literal.
    const int named = RowOfRemoteAddress("2001:db8::2");
    EXPECT_GT(CountColour(img, Cell(named, kColRemoteHost), kPink), 10);
    EXPECT_GT(CountColour(img, Cell(named, kColRemoteAddress), kYellow), 10);
    EXPECT_GT(CountColour(img, Cell(named, kColLocalAddress), kYellow), 10);
    const int unnamed = RowOfRemoteAddress("2001:db8::9");
    EXPECT_GT(CountColour(img, Cell(unnamed, kColRemoteHost), kYellow), 10);
    EXPECT_EQ(CountColour(img, Cell(unnamed, kColRemoteHost), kWhite), 0);
    // The long address in the user's 90 px column is cut with an ellipsis and stays in its cell:
    // the host cell beside it holds pink text only.
    const int longRow = RowOfRemoteAddress(kLong);
    EXPECT_EQ(list->columnWidth(kColRemoteAddress), 90);
    const QRect cell = Cell(longRow, kColRemoteAddress);
    EXPECT_GT(CountColour(img, cell, kYellow), 10);
    EXPECT_EQ(CountColour(img, Cell(longRow, kColRemoteHost), kYellow), 0);
    const QString full = model->index(longRow, kColRemoteAddress).data().toString();
    EXPECT_EQ(full, kLong);
    const QString shown = list->fontMetrics().elidedText(full, Qt::ElideRight,
                                                         SessionItemDelegate::TextRect(cell, false).width());
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
}

TEST_F(SessionListPaintTest, RightAlignedAndElidedCellsKeepTheirInsets) {
    AddDefaultRows();
    table.Add(kTcpEstablished, "192.168.1.5", 40005, "10.0.0.5", 8, 0);
    Make();
    list->setColumnWidth(kColRemoteHost, 120);
    const QImage img = GrabRows();
    const int row = RowOfRemoteAddress("10.0.0.5");

    auto rightmost = [&](const QRect& cell, QRgb colour) {
        int maxX = -1;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                if (Pixel(img, x, y) == colour) maxX = std::max(maxX, x);
        return maxX;
    };
    // Port "8" ends 4 px in from the cell's right edge (less the glyph's own side bearing).
    const QRect port = Cell(row, kColRemotePort);
    const int portEnd = rightmost(port, kWhite);
    EXPECT_LE(portEnd, port.right() - 4);
    EXPECT_GE(portEnd, port.right() - 7);
    // Time is right-aligned as well.
    const QRect time = Cell(row, kColTime);
    EXPECT_LE(rightmost(time, kWhite), time.right() - 4);
    EXPECT_GE(rightmost(time, kWhite), time.right() - 7);

    // The long name is cut short of the inset and ends with an ellipsis; nothing spills over.
    const QRect host = Cell(row, kColRemoteHost);
    EXPECT_LE(rightmost(host, kRed), host.right() - 4);
    EXPECT_EQ(CountColour(img, Cell(row, kColRemoteHost + 1).adjusted(0, 0, -40, 0), kRed), 0);
    const QString full = model->index(row, kColRemoteHost).data().toString();
    const QString shown = list->fontMetrics().elidedText(full, Qt::ElideRight,
                                                         SessionItemDelegate::TextRect(host, false).width());
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
}

TEST_F(SessionListPaintTest, EmptyAreaAndCellsFollowReloadedBackground) {
    AddDefaultRows();
    Make();
    QImage img = GrabRows();
    const int below = Cell(3, 0).bottom() + 20;
    EXPECT_EQ(Pixel(img, 5, below), kBlack);
    EXPECT_EQ(Pixel(img, 950, 5), kBlack);  // right of the columns (890 px wide)

    SettingsFile settings(settingsPath.path());
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_TextBk", 0x403020));  // #203040
    ASSERT_TRUE(settings.WriteInt("Surveil", "Color_co_jp", 0x00FF00));   // #00FF00
    list->LoadColours(settings);
    img = GrabRows();
    const QRgb newBk = 0xFF203040;
    EXPECT_EQ(Pixel(img, 5, below), newBk);
    EXPECT_EQ(Pixel(img, 950, 5), newBk);
    EXPECT_EQ(Pixel(img, img.width() - 1, img.height() - 1), newBk);
    const QRect host = Cell(RowOfRemoteAddress("10.0.0.1"), kColRemoteHost);
    EXPECT_EQ(Pixel(img, host.left(), host.top()), newBk);
    EXPECT_GT(CountColour(img, host, 0xFF00FF00), 10);
    EXPECT_EQ(CountColour(img, host, kPink), 0);
    EXPECT_EQ(list->backgroundColour(), 0x403020u);
}

TEST_F(SessionListPaintTest, TextColourDefaultsToTheListsOwnAtSetUp) {
    AddDefaultRows();
    monitor = nullptr;
    Make();
    list->SetTextColor(0x00FFFF);  // #FFFF00 after set-up: becomes the default of the next load
    list->LoadColours(SettingsFile(settingsPath.path()));
    EXPECT_EQ(list->textColour(), 0x00FFFFu);
    const QImage img = GrabRows();
    const QRect port = Cell(0, kColLocalPort);
    EXPECT_GT(CountColour(img, port, 0xFFFFFF00), 5);
}

TEST_F(SessionListPaintTest, RefreshKeepsSelectedPositionsAndScrollPositions) {
    for (int i = 0; i < 100; ++i) table.Add(kTcpEstablished, "192.168.1.5", 41000 + i, "10.0.1.1", 80, 0);
    Make(400, 200);
    SignalCount resets(model.get(), &QAbstractItemModel::modelReset);
    list->selectionModel()->select(model->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(model->index(40, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->verticalScrollBar()->setValue(30);
    list->horizontalScrollBar()->setValue(45);
    const std::string firstSelected = monitor->Row(1)[kColLocalPort];

    // The connection at position 0 goes and two new ones arrive: contents shift, positions stay.
    table.rows().erase(table.rows().begin());
    table.Add(kTcpEstablished, "192.168.1.5", 42000, "10.0.1.1", 80, 0);
    table.Add(kTcpEstablished, "192.168.1.5", 42001, "10.0.1.1", 80, 0);
    Tick();
    EXPECT_EQ(model->rowCount(), 101);
    EXPECT_EQ(list->SelectedRows(), (QList<int>{1, 40}));
    EXPECT_EQ(list->verticalScrollBar()->value(), 30);
    EXPECT_EQ(list->horizontalScrollBar()->value(), 45);
    EXPECT_EQ(resets.count(), 0);
    // The model shows the new texts at the old positions.
    EXPECT_EQ(model->index(1, kColLocalPort).data().toString().toStdString(), monitor->Row(1)[kColLocalPort]);

    // Shrinking below a selected position drops that selection only.
    table.rows().resize(20);
    Tick();
    EXPECT_EQ(model->rowCount(), 20);
    EXPECT_EQ(list->SelectedRows(), (QList<int>{1}));
    EXPECT_EQ(resets.count(), 0);
    (void)firstSelected;

    monitor->RemoveAllItems();
    model->Refresh();
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_TRUE(list->SelectedRows().isEmpty());
}

TEST_F(SessionListPaintTest, EightColumnsWithoutProcessInfo) {
    AddDefaultRows();
    table.hasExtended = false;
    table.hasFromStack = false;
    Make();
    EXPECT_EQ(model->columnCount(), 8);
    const QImage img = GrabRows();
    // Nothing drawn right of the Time column but the background.
    const int end = Cell(0, kColTime).right() + 1;
    EXPECT_EQ(CountColour(img, QRect(end, 0, img.width() - end, img.height()), kBlack),
              (img.width() - end) * img.height());
}

TEST(SessionListModelTest, RolesHeadersAndLanguages) {
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    table.Add(kTcpEstablished, "192.168.1.5", 40001, "10.0.0.1", 443, 0);
    SessionMonitor monitor(table, processes, clock, UiLanguage::Japanese());
    monitor.Start();
    monitor.Tick();
    SessionListModel model(monitor, UiLanguage::Japanese());
    ASSERT_EQ(model.rowCount(), 1);
    ASSERT_EQ(model.columnCount(), 9);
    EXPECT_EQ(model.headerData(4, Qt::Horizontal).toString(), QString::fromUtf8("ホスト2"));
    EXPECT_EQ(model.headerData(8, Qt::Horizontal).toString(), QString::fromUtf8("イメージ名(PID)"));
    EXPECT_EQ(model.index(0, kColStatus).data().toString(), QString::fromUtf8("接続中"));
    EXPECT_EQ(model.index(0, kColStatus).data(Qt::ForegroundRole).value<QColor>(), QColor(0x80, 0xFF, 0x80));
    EXPECT_TRUE(model.index(0, kColStatus).data(SessionListModel::kFramedRole).toBool());
    EXPECT_FALSE(model.index(0, kColRemoteHost).data(SessionListModel::kFramedRole).toBool());
    EXPECT_EQ(model.index(0, kColRemoteHost).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::black));
    for (int c : {kColLocalPort, kColRemotePort, kColTime})
        EXPECT_TRUE(model.index(0, c).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight) << c;
    for (int c : {kColLocalAddress, kColRemoteHost, kColStatus, kColProcess})
        EXPECT_FALSE(model.index(0, c).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight) << c;

    ColorScheme scheme;
    scheme.setColour(ColorScheme::kProtoDl, 0x0000FF);
    SignalCount changed(&model, &QAbstractItemModel::dataChanged);
    model.SetColorScheme(scheme);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(model.index(0, kColStatus).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));

    // Rows added and removed at the end, never a reset.
    SignalCount inserted(&model, &QAbstractItemModel::rowsInserted);
    SignalCount removed(&model, &QAbstractItemModel::rowsRemoved);
    table.Add(kTcpEstablished, "192.168.1.5", 40002, "10.0.0.1", 443, 0);
    monitor.Tick();
    model.Refresh();
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(inserted.count(), 1);
    table.Clear();
    monitor.Tick();
    model.Refresh();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(removed.count(), 1);
}

}  // namespace
}  // namespace varnel
