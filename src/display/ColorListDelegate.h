#pragma once

#include <QColor>
#include <QRect>
#include <optional>

#include "display/OwnerDrawnItemDelegate.h"

namespace varnel {

// Paints one cell of CListCtrlEx2 from its text; selected rows are highlighted whether or not the
// list has the focus.
//
// Swatch cell (text ending in "%"): the cell filled with the background (the selection colour when
// highlighted); 1 px in, a bump edge (raised outer line, sunken inner line); 2 px in, the swatch
// colour over the rest, the inner line included. Text cell: the cell filled likewise, the text
// inset 4 px left and right and 1 px top and bottom, one line, vertically centred, cut with "…", in
// #FFFF80 in column 0, black in column 1 (the list's text colour when the background is dark, so
// that names stay readable) and the list's text colour further right (the selected text colour
// when highlighted). No focus rectangle. UI thread only.
class ColorListDelegate : public OwnerDrawnItemDelegate {
    Q_OBJECT
  public:
    explicit ColorListDelegate(QObject* parent = nullptr);

    void SetColours(const QColor& text, const QColor& background, const QColor& selectedText,
                    const QColor& selection);

    // The swatch colour (0x00BBGGRR) of a cell text ending in "%": the signed decimal number at its
    // start, read up to the first non-digit (0 when there is none). Empty for any other text.
    static std::optional<uint32_t> SwatchColour(const QString& text);
    // The swatch's fill inside a cell.
    static QRect SwatchRect(const QRect& cell) { return cell.adjusted(2, 2, -2, -2); }
    static QRect TextRect(const QRect& cell) { return InsetTextRect(cell); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    void PaintBumpEdge(QPainter* painter, const QRect& r, const QPalette& pal) const;

    QColor text_{Qt::black};
    QColor background_{Qt::white};
};

}  // namespace varnel
