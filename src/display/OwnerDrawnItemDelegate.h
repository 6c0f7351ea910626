#pragma once

#include <QColor>
#include <QModelIndex>
#include <QRect>
#include <QStyledItemDelegate>

namespace varnel {

// What the delegates of the two owner-drawn lists share: selected rows are drawn in two selection
// colours the list gives them (whether or not the list has the focus), and a text cell's text sits
// inset in the cell in the horizontal alignment of its index. Painting is the subclass's. UI thread only.
class OwnerDrawnItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    void SetSelectionColours(const QColor& selectedText, const QColor& selection);
    QColor selectedTextColour() const { return selectedText_; }
    QColor selectionColour() const { return selection_; }

    // Where the text of a plain cell goes: 4 px in left and right, 1 px top and bottom.
    static QRect InsetTextRect(const QRect& cell) { return cell.adjusted(4, 1, -4, -1); }
    // The index's Qt::TextAlignmentRole cut to its horizontal part; left when it has none.
    static Qt::Alignment HorizontalAlignment(const QModelIndex& index);

  protected:
    explicit OwnerDrawnItemDelegate(QObject* parent);

  private:
    QColor selectedText_{Qt::white};
    QColor selection_{Qt::darkBlue};
};

}  // namespace varnel
