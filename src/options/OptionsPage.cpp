#include "options/OptionsPage.h"

#include <QKeyEvent>

namespace varnel {

OptionsPage::OptionsPage(QWidget* parent) : QWidget(parent) {}

OptionsPage::~OptionsPage() = default;

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
