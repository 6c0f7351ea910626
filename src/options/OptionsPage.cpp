#include "options/OptionsPage.h"

#include <QKeyEvent>
#include <QPalette>

namespace varnel {

OptionsPage::OptionsPage(QWidget* parent) : QWidget(parent) {}

OptionsPage::~OptionsPage() = default;

void OptionsPage::PaintWhite() {
    QPalette pal = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Window, Qt::white);
        pal.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? QColor(0x78, 0x78, 0x78) : Qt::black);
    }
    setPalette(pal);
    setAutoFillBackground(true);
}

void OptionsPage::keyPressEvent(QKeyEvent* event) {
    // A key a child ignored travels up to the dialog, whose Enter presses OK and whose Esc
    // cancels; accepting it here ends its way at the page.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace varnel
