#include "monitor/QuickFilterBox.h"

#include <QAction>
#include <QKeyEvent>

namespace varnel {

QuickFilterBox::QuickFilterBox(const UiLanguage& lang, QWidget* scope, QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(QString::fromUtf8(lang.Pick("絞り込み (Ctrl+F)", "Filter (Ctrl+F)")));
    setClearButtonEnabled(true);
    setMinimumWidth(80);
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    find->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QAction::triggered, this, [this] {
        setFocus(Qt::ShortcutFocusReason);
        selectAll();
    });
    scope->addAction(find);
}

void QuickFilterBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        clear();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QLineEdit::keyPressEvent(event);
}

}  // namespace varnel
