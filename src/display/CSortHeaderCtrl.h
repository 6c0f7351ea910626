#pragma once

#include <QHeaderView>
#include <QPoint>

namespace varnel {

// The session list's horizontal header. It paints every section itself: a vertical band in a
// lightened button-face colour darkening by 3 per line, a raised 1 px frame (sunken while the
// section is pressed), the caption in the button-text colour, and on the sort column a small
// outlined triangle pointing up (ascending) or down (descending). It does not sort: whoever sorts
// tells it the column and direction through SetSortIndicator. Clicks come out as sectionClicked.
//
// Palette roles used: Button (face), ButtonText (caption), Light (triangle highlight), Dark
// (triangle shadow). UI thread only.
class CSortHeaderCtrl : public QHeaderView {
    Q_OBJECT
  public:
    explicit CSortHeaderCtrl(QWidget* parent = nullptr);

    // -1 removes the triangle from every section. Repaints the header.
    void SetSortIndicator(int column, bool descending);
    int sortColumn() const { return sortColumn_; }
    bool descending() const { return descending_; }
    // The section held down by the mouse, -1 when none.
    int pressedSection() const { return pressed_; }

    // The triangle's corners on a section whose right and bottom edges (exclusive) are `right` and
    // `bottom`, with unit u = height / 4. Its outline runs p0 -> p1 -> p2 -> p0, each line from its
    // start pixel up to but not including its end pixel.
    // Ascending: apex, lower right, lower left; p0 -> p1 -> p2 in the highlight colour, p2 -> p0 in
    // the shadow colour. Descending: upper right, apex, upper left; p0 -> p1 in the highlight colour,
    // p1 -> p2 -> p0 in the shadow colour.
    struct Triangle {
        QPoint p0, p1, p2;
    };
    static Triangle TriangleFor(int right, int bottom, int unit, bool descending);

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool OnResizeHandle(int x) const;

    int sortColumn_ = -1;
    bool descending_ = false;
    int pressed_ = -1;
};

}  // namespace varnel
