#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QStandardItemModel>
#include <memory>

#include "display/CSortHeaderCtrl.h"
#include "gui/GuiTestSupport.h"

namespace varnel {
namespace {

using namespace guitest;

// Button face #D4D0C8 lightened by 21 per channel.
const QColor kBase(0xE9, 0xE5, 0xDD);

QRgb BandColour(int line) {
    auto ch = [line](int v) { return std::clamp(v - 3 * line, 0, 255); };
    return qRgb(ch(kBase.red()), ch(kBase.green()), ch(kBase.blue()));
}
const QRgb kFrameLight = 0xFFFFFFFF;                               // base + 192, capped
const QRgb kFrameDark = qRgb(0xE9 - 192, 0xE5 - 192, 0xDD - 192);  // base - 192

class SortHeaderPaintTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model = std::make_unique<QStandardItemModel>(1, 3);
        model->setHorizontalHeaderLabels({"One", "Two", "Three"});
        header = std::make_unique<CSortHeaderCtrl>();
        header->setModel(model.get());
        for (int i = 0; i < 3; ++i) header->resizeSection(i, 100);
        header->setFixedHeight(16);
        header->resize(300, 16);
        header->show();
    }
    QImage GrabHeader() { return Grab(header->viewport()); }
    void Mouse(QEvent::Type type, QPoint at) {
        QMouseEvent e(type, QPointF(at), QPointF(header->viewport()->mapToGlobal(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(header->viewport(), &e);
    }
    // Pixels of the triangle's box on the section ending at x = right (exclusive), u = 4.
    int TriangleInk(const QImage& img, int right) {
        const QRect box(right - 11, 3, 7, 9);
        return CountColour(img, box, kLight) + CountColour(img, box, kDark);
    }

    FixedLook look;  // first: outlives the widgets
    std::unique_ptr<QStandardItemModel> model;
    std::unique_ptr<CSortHeaderCtrl> header;
};

TEST_F(SortHeaderPaintTest, ClickableFixedSectionsWithoutQtsOwnIndicator) {
    EXPECT_TRUE(header->sectionsClickable());
    EXPECT_FALSE(header->sectionsMovable());
    EXPECT_FALSE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortColumn(), -1);
    int clicked = -1;
    QObject::connect(header.get(), &QHeaderView::sectionClicked, [&](int s) { clicked = s; });
    Mouse(QEvent::MouseButtonPress, {150, 8});
    Mouse(QEvent::MouseButtonRelease, {150, 8});
    EXPECT_EQ(clicked, 1);
}

TEST_F(SortHeaderPaintTest, ShadedBandAndRaisedFrame) {
    const QImage img = GrabHeader();
    // Section 1 spans x 100..199. Band between the frame lines, darker by 3 per line.
    for (int line = 1; line <= 14; ++line) EXPECT_EQ(Pixel(img, 190, line), BandColour(line)) << line;
    EXPECT_EQ(BandColour(15), qRgb(0xE9 - 45, 0xE5 - 45, 0xDD - 45));
    EXPECT_EQ(Pixel(img, 150, 0), kFrameLight);
    EXPECT_EQ(Pixel(img, 100, 8), kFrameLight);
    EXPECT_EQ(Pixel(img, 199, 8), kFrameDark);
    EXPECT_EQ(Pixel(img, 150, 15), kFrameDark);
    // Caption in the button-text colour, left-aligned after u + 1 = 5 px.
    EXPECT_GT(CountColour(img, QRect(105, 1, 60, 14), 0xFF000000), 5);
    EXPECT_EQ(CountColour(img, QRect(101, 1, 4, 14), 0xFF000000), 0);
    // No sort column: no triangle anywhere.
    for (int right : {100, 200, 300}) EXPECT_EQ(TriangleInk(img, right), 0) << right;
}

TEST_F(SortHeaderPaintTest, AscendingTrianglePointsUp) {
    header->SetSortIndicator(1, false);
    const QImage img = GrabHeader();
    const int R = 200;                               // B = 16, u = 4
    EXPECT_EQ(Pixel(img, R - 8, 3), kLight);         // apex (R - 2u, u - 1)
    EXPECT_EQ(Pixel(img, R - 5, 10), kLight);        // lower right (R - u - 1, B - u - 2)
    EXPECT_EQ(Pixel(img, R - 8, 10), kLight);        // along the base
    EXPECT_EQ(Pixel(img, R - 11, 10), kDark);        // lower left (R - 3u + 1, B - u - 2) starts the shadow
    EXPECT_EQ(Pixel(img, R - 10, 7), kDark);         // left edge on the way back to the apex
    EXPECT_EQ(Pixel(img, R - 6, 7), kLight);         // right edge
    EXPECT_EQ(Pixel(img, R - 8, 7), BandColour(7));  // hollow
    EXPECT_EQ(
        CountColour(img, QRect(R - 11, 3, 7, 8), kLight) + CountColour(img, QRect(R - 11, 3, 7, 8), kDark),
        TriangleInk(img, R));  // nothing outside x R-11..R-5, y 3..10
    EXPECT_EQ(TriangleInk(img, 100), 0);
    EXPECT_EQ(TriangleInk(img, 300), 0);
}

TEST_F(SortHeaderPaintTest, DescendingTrianglePointsDown) {
    header->SetSortIndicator(2, true);
    const QImage img = GrabHeader();
    const int R = 300;
    EXPECT_EQ(Pixel(img, R - 5, 5), kLight);  // upper right (R - u - 1, u + 1)
    EXPECT_EQ(Pixel(img, R - 8, 11), kDark);  // apex (R - 2u, B - u - 1) starts the shadow
    EXPECT_EQ(Pixel(img, R - 11, 5), kDark);  // upper left
    EXPECT_EQ(Pixel(img, R - 8, 5), kDark);   // top edge
    EXPECT_EQ(Pixel(img, R - 7, 8), kLight);  // right edge
    EXPECT_EQ(Pixel(img, R - 10, 8), kDark);  // left edge
    EXPECT_EQ(Pixel(img, R - 8, 8), BandColour(8));
    EXPECT_EQ(
        CountColour(img, QRect(R - 11, 5, 7, 7), kLight) + CountColour(img, QRect(R - 11, 5, 7, 7), kDark),
        TriangleInk(img, R));
    EXPECT_EQ(TriangleInk(img, 200), 0);

    // Flipping the direction and moving the column.
    header->SetSortIndicator(2, false);
    EXPECT_EQ(Pixel(GrabHeader(), R - 8, 3), kLight);
    header->SetSortIndicator(0, false);
    const QImage moved = GrabHeader();
    EXPECT_EQ(TriangleInk(moved, 300), 0);
    EXPECT_EQ(Pixel(moved, 100 - 8, 3), kLight);
}

TEST_F(SortHeaderPaintTest, NarrowSectionLosesTheTriangle) {
    header->SetSortIndicator(0, false);
    // Text rectangle = width - 5u - 2; the triangle needs more than 3u = 12.
    header->resizeSection(0, 35);
    EXPECT_GT(TriangleInk(GrabHeader(), 35), 0);
    header->resizeSection(0, 34);
    EXPECT_EQ(TriangleInk(GrabHeader(), 34), 0);
}

TEST_F(SortHeaderPaintTest, PressedSectionIsSunkenWithShiftedCaption) {
    const QImage before = GrabHeader();
    Mouse(QEvent::MouseButtonPress, {150, 8});
    EXPECT_EQ(header->pressedSection(), 1);
    const QImage pressed = GrabHeader();
    EXPECT_EQ(Pixel(pressed, 150, 0), kFrameDark);
    EXPECT_EQ(Pixel(pressed, 100, 8), kFrameDark);
    EXPECT_EQ(Pixel(pressed, 199, 8), kFrameLight);
    EXPECT_EQ(Pixel(pressed, 150, 15), kFrameLight);
    // The caption's ink moves one pixel right and down.
    auto inkBox = [](const QImage& img) {
        QRect box;
        for (int y = 1; y < 15; ++y)
            for (int x = 101; x < 199; ++x)
                if (Pixel(img, x, y) == 0xFF000000) box |= QRect(x, y, 1, 1);
        return box;
    };
    ASSERT_FALSE(inkBox(before).isEmpty());
    EXPECT_EQ(inkBox(pressed).topLeft(), inkBox(before).topLeft() + QPoint(1, 1));
    // Other sections stay raised.
    EXPECT_EQ(Pixel(pressed, 250, 0), kFrameLight);

    Mouse(QEvent::MouseButtonRelease, {150, 8});
    EXPECT_EQ(header->pressedSection(), -1);
    EXPECT_EQ(Pixel(GrabHeader(), 150, 0), kFrameLight);
}

TEST_F(SortHeaderPaintTest, PressOnASectionEdgeResizesWithoutPressing) {
    Mouse(QEvent::MouseButtonPress, {198, 8});
    EXPECT_EQ(header->pressedSection(), -1);
    EXPECT_EQ(Pixel(GrabHeader(), 150, 0), kFrameLight);
    Mouse(QEvent::MouseButtonRelease, {198, 8});
    Mouse(QEvent::MouseButtonPress, {101, 8});  // the left edge belongs to the previous section
    EXPECT_EQ(header->pressedSection(), -1);
    Mouse(QEvent::MouseButtonRelease, {101, 8});
    Mouse(QEvent::MouseButtonPress, {1, 8});  // the first section has no edge on its left
    EXPECT_EQ(header->pressedSection(), 0);
    Mouse(QEvent::MouseButtonRelease, {1, 8});
}

}  // namespace
}  // namespace varnel
