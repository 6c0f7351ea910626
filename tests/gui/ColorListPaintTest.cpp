#include <gtest/gtest.h>

#include <QHeaderView>
#include <memory>

#include "display/CListCtrlEx2.h"
#include "display/ColorListDelegate.h"
#include "gui/GuiTestSupport.h"

namespace varnel {
namespace {

using namespace guitest;

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kYellow = 0xFFFFFF80;

class ColorListPaintTest : public ::testing::Test {
  protected:
    void Make(int rows = 3) {
        list = std::make_unique<CListCtrlEx2>();
        list->SetColumns({"Color", "Item Name"}, {100, 300});
        // The page's colours: the window colour behind black window text.
        list->SetBkColor(0xFFFFFF);
        list->SetTextBkColor(0xFFFFFF);
        list->SetTextColor(0x000000);
        list->SetUp();
        const QStringList swatches = {"255%", "0%", "16777215%", "8421376%"};
        for (int r = rows - 1; r >= 0; --r)
            list->InsertItem(0, {swatches[r % swatches.size()], QString("Item %1").arg(r)});
        list->resize(420, 200);
        list->show();
    }
    QRect Cell(int row, int column) const {
        return list->visualRect(list->model()->index(row, column)).translated(list->viewport()->pos());
    }

    FixedLook look;
    std::unique_ptr<CListCtrlEx2> list;
};

TEST_F(ColorListPaintTest, SwatchTextParsing) {
    EXPECT_EQ(ColorListDelegate::SwatchColour("255%"), 0xFFu);
    EXPECT_EQ(ColorListDelegate::SwatchColour("0%"), 0u);
    EXPECT_EQ(ColorListDelegate::SwatchColour("16777215%"), 0xFFFFFFu);
    EXPECT_EQ(ColorListDelegate::SwatchColour("-1%"), 0xFFFFFFFFu);
    EXPECT_EQ(ColorListDelegate::SwatchColour("12ab%"), 12u);
    EXPECT_EQ(ColorListDelegate::SwatchColour("%"), 0u);
    EXPECT_FALSE(ColorListDelegate::SwatchColour("255").has_value());
    EXPECT_FALSE(ColorListDelegate::SwatchColour("Item Name").has_value());
    EXPECT_FALSE(ColorListDelegate::SwatchColour("50% off").has_value());
}

TEST_F(ColorListPaintTest, SetUpGivesRowHeightAndCapturesSelectionColours) {
    Make();
    EXPECT_EQ(list->rowHeight(0), list->RowHeight());
    EXPECT_EQ(list->selectionColour(), 0xC06030u);
    EXPECT_EQ(list->selectedTextColour(), 0xFFFF00u);
    EXPECT_EQ(list->ItemCount(), 3);
    EXPECT_EQ(list->ItemText(0, 0), "255%");
    EXPECT_EQ(list->ItemText(2, 1), "Item 2");
}

TEST_F(ColorListPaintTest, SwatchFillsInsideTheBumpEdgeOnTheBackground) {
    Make();
    const QImage img = Grab(list.get());
    const QRect red = Cell(0, 0), black = Cell(1, 0);
    const QRect redFill = ColorListDelegate::SwatchRect(red);
    const QRect blackFill = ColorListDelegate::SwatchRect(black);
    EXPECT_EQ(CountColour(img, redFill, kRed), redFill.width() * redFill.height());
    EXPECT_EQ(CountColour(img, blackFill, kBlack), blackFill.width() * blackFill.height());
    // Outermost ring: the background; next ring: the raised outer line of the bump edge.
    EXPECT_EQ(Pixel(img, red.left(), red.center().y()), kWhite);
    EXPECT_EQ(Pixel(img, red.center().x(), red.top()), kWhite);
    EXPECT_EQ(Pixel(img, red.left() + 1, red.center().y()), kLight);
    EXPECT_EQ(Pixel(img, red.center().x(), red.top() + 1), kLight);
    EXPECT_EQ(Pixel(img, red.right() - 1, red.center().y()),
              QApplication::palette().color(QPalette::Shadow).rgb() | 0xFF000000);
    // No red outside its own swatch.
    EXPECT_EQ(CountColour(img, img.rect(), kRed), redFill.width() * redFill.height());
}

TEST_F(ColorListPaintTest, NamesAreBlackOnTheWindowColour) {
    Make();
    const QImage img = Grab(list.get());
    const QRect name = Cell(0, 1);
    EXPECT_GT(CountColour(img, name, kBlack), 10);
    EXPECT_EQ(CountColour(img, name, kBlack) + CountColour(img, name, kWhite), name.width() * name.height());
    // Other colours given to the list move nothing in the name column.
    list->SetTextColor(0x0000FF);
    const QImage again = Grab(list.get());
    EXPECT_EQ(CountColour(again, name, kRed), 0);
    EXPECT_GT(CountColour(again, name, kBlack), 10);
    // On a dark window colour black would not read: the names take the list's text colour.
    list->SetBkColor(0x202020);
    list->SetTextColor(0xFFFFFF);
    const QImage dark = Grab(list.get());
    EXPECT_EQ(CountColour(dark, name, kBlack), 0);
    EXPECT_EQ(CountColour(dark, name, kWhite) + CountColour(dark, name, 0xFF202020), name.width() * name.height());
}

TEST_F(ColorListPaintTest, PlainTextInColumnZeroIsPaleYellow) {
    Make(0);
    list->InsertItem(0, {"Colour", "x"});
    const QImage img = Grab(list.get());
    EXPECT_GT(CountColour(img, Cell(0, 0), kYellow), 5);
}

TEST_F(ColorListPaintTest, SelectedRowWithoutFocusIsHighlightedAndKeepsItsSwatch) {
    Make();
    list->selectRow(0);
    list->clearFocus();
    const QImage img = Grab(list.get());
    const QRect swatch = Cell(0, 0), name = Cell(0, 1);
    const QRect fill = ColorListDelegate::SwatchRect(swatch);
    EXPECT_EQ(CountColour(img, fill, kRed), fill.width() * fill.height());
    EXPECT_EQ(Pixel(img, swatch.left(), swatch.center().y()), kHighlight);
    EXPECT_GT(CountColour(img, name, kHighlightedText), 10);
    EXPECT_EQ(CountColour(img, name, kBlack), 0);
    EXPECT_EQ(list->SelectedRow(), 0);
}

TEST_F(ColorListPaintTest, AreaBelowAndRightOfTheRowsIsTheBackground) {
    Make(2);
    const QImage img = Grab(list.get());
    const QRect below(list->viewport()->pos().x(), Cell(1, 0).bottom() + 1, 400, 20);
    EXPECT_EQ(CountColour(img, below, kWhite),
              below.intersected(img.rect()).width() * below.intersected(img.rect()).height());
}

TEST_F(ColorListPaintTest, LastVisibleRowAndEnsureVisible) {
    Make(37);
    list->resize(420, list->horizontalHeader()->height() + 10 * list->RowHeight() + 4);
    QApplication::processEvents();
    EXPECT_EQ(list->LastVisibleRow(), 9);
    list->EnsureVisible(30);
    QApplication::processEvents();
    EXPECT_EQ(list->LastVisibleRow(), 30);
    EXPECT_EQ(list->rowAt(0), 21);
    list->EnsureVisible(99);  // out of range: nothing moves
    EXPECT_EQ(list->rowAt(0), 21);
}

}  // namespace
}  // namespace varnel
