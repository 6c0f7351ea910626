#include <gtest/gtest.h>

#include <QPaintEvent>
#include <cstdio>
#include <memory>
#include <vector>

#include "settings/SettingsFile.h"
#include "display/CListCtrlEx3.h"
#include "display/SessionListModel.h"
#include "gui/GuiTestSupport.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeConnectionTable.h"
#include "platform/fake/FakeProcessList.h"
#include "session/SessionMonitor.h"

namespace varnel {
namespace {

using namespace guitest;

// Records the regions the viewport is asked to paint.
class PaintRecorder : public QObject {
  public:
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

struct Range {
    int top, left, bottom, right;
};

// A tick repaints only the cells whose texts changed: the model signals them column by column and
// the list invalidates only their area.
class SessionListUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Connections seen at different times, so their ages differ.
        for (int i = 0; i < 30; ++i) {
            if (i > 0) clock.Advance(1700);
            char remote[32];
            std::snprintf(remote, sizeof remote, "10.0.1.%d", i + 1);
            table.Add(kTcpEstablished, "192.168.1.5", 40000 + i, remote, 443, 0);
            if (i == 0) {
                monitor = std::make_unique<SessionMonitor>(table, processes, clock, UiLanguage::English());
                monitor->Start();
            }
            monitor->Tick();
        }
        model = std::make_unique<SessionListModel>(*monitor, UiLanguage::English());
        list = std::make_unique<CListCtrlEx3>();
        list->setModel(model.get());
        list->SetUp(SettingsFile(settingsPath.path()));
        list->resize(1000, 300);
        list->show();
        QApplication::processEvents();
        QObject::connect(model.get(), &QAbstractItemModel::dataChanged, &context,
                         [this](const QModelIndex& tl, const QModelIndex& br) {
                             ranges.push_back({tl.row(), tl.column(), br.row(), br.column()});
                         });
        list->viewport()->installEventFilter(&recorder);
    }

    // One tick through the model, then the paint it asked for.
    void TickAndPaint() {
        ranges.clear();
        recorder.painted = QRegion();
        monitor->Tick();
        model->Refresh();
        QApplication::processEvents();
    }

    FixedLook look;  // first: outlives the widgets
    FakeConnectionTable table;
    FakeProcessList processes;
    FakeClock clock;
    TempSettings settingsPath;
    std::unique_ptr<SessionMonitor> monitor;
    std::unique_ptr<SessionListModel> model;
    std::unique_ptr<CListCtrlEx3> list;
    QObject context;
    PaintRecorder recorder;
    std::vector<Range> ranges;
};

TEST_F(SessionListUpdateTest, OnlyTheTimeColumnRepaintsWhenOnlyAgesChange) {
    ASSERT_EQ(model->rowCount(), 30);
    const int visibleRows = list->viewport()->height() / list->RowHeight();
    ASSERT_GT(visibleRows, 5);

    // A second later every age has moved on and nothing else has.
    clock.Advance(1000);
    TickAndPaint();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].left, kColTime);
    EXPECT_EQ(ranges[0].right, kColTime);
    EXPECT_EQ(ranges[0].top, 0);
    EXPECT_EQ(ranges[0].bottom, 29);
    // The view widens an updated range by a pixel at the right edge; the neighbour columns are
    // tens of pixels wide, so anything more would be another column's cells.
    const QRect time = list->visualRect(model->index(0, kColTime));
    ASSERT_FALSE(recorder.painted.isEmpty());
    const QRect painted = recorder.painted.boundingRect();
    EXPECT_GE(painted.left(), time.left());
    EXPECT_LE(painted.right(), time.right() + 1);
    EXPECT_EQ(painted.top(), 0);
    EXPECT_GE(painted.bottom() + 1, visibleRows * list->RowHeight());

    // A tick in the same second changes nothing: no signal, no paint.
    clock.Advance(10);
    TickAndPaint();
    EXPECT_TRUE(ranges.empty());
    EXPECT_TRUE(recorder.painted.isEmpty());
}

TEST_F(SessionListUpdateTest, RowsThatShiftUpRepaintFromTheirPosition) {
    // The connection shown at position 20 goes: the rows below it move up one position, the ones
    // above keep their texts, and the last position is removed.
    const std::string gone = monitor->Row(20)[kColRemoteAddress];
    for (auto it = table.rows().begin(); it != table.rows().end(); ++it) {
        if (it->remoteAddr == FakeConnectionTable::PackAddress(gone)) {
            table.rows().erase(it);
            break;
        }
    }
    TickAndPaint();
    EXPECT_EQ(model->rowCount(), 29);
    ASSERT_FALSE(ranges.empty());
    for (const Range& r : ranges) {
        EXPECT_EQ(r.left, r.right);
        EXPECT_GE(r.top, 20);
        EXPECT_LE(r.bottom, 28);
    }
    for (int c = 0; c < model->columnCount(); ++c)
        EXPECT_EQ(model->index(20, c).data().toString().toStdString(), monitor->Row(20)[c]);
}

TEST_F(SessionListUpdateTest, ColumnCountChangeSignalsEveryCell) {
    table.hasExtended = false;
    table.hasFromStack = false;
    TickAndPaint();
    EXPECT_EQ(model->columnCount(), kColumnCount - 1);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].top, 0);
    EXPECT_EQ(ranges[0].left, 0);
    EXPECT_EQ(ranges[0].bottom, 29);
    EXPECT_EQ(ranges[0].right, kColumnCount - 2);
}

}  // namespace
}  // namespace varnel
