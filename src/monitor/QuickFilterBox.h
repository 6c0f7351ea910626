#pragma once

#include <QLineEdit>

#include "settings/UiLanguage.h"

namespace varnel {

// The quick filter's box above the session list: Ctrl+F anywhere in `scope` focuses it (its text
// selected), Esc in it empties it, and Enter in it does nothing (it is no START/STOP). The words
// typed are the filter (textChanged); SessionMonitor::SetFilterText applies them.
//
// A child widget; GUI thread only.
class QuickFilterBox : public QLineEdit {
    Q_OBJECT

  public:
    QuickFilterBox(const UiLanguage& lang, QWidget* scope, QWidget* parent);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace varnel
