#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <vector>

#include "autokill/RuleExplainer.h"
#include "session/SessionRow.h"
#include "settings/UiLanguage.h"

class QLabel;
class QPlainTextEdit;
class QTimer;

namespace varnel {

// The read-only panel beside the rule editor: for the text being edited, each rule-candidate line
// as `varnel --check-rules` reads it (line number, canonical rule or why it is ignored, errors and
// warnings; lines with errors are marked red, lines with warnings yellow), and for each rule how
// many connections it would cut, or exempt when it is an ALLOW rule: of the rows the list shows,
// and apart from them ("cuts 5 (+3 not shown)") of the connections auto kill tests that the list
// does not show. A summary line above gives the totals.
//
// The panel follows the editor: an edit restarts a short timer and the text is checked again only
// when typing pauses, so a keystroke costs no more than the restart. The counts are taken again
// every few seconds from `rows`, as the list changes. Clicking a line (or moving through the panel
// with the keys) puts the editor's cursor at the start of that line.
//
// The editor is borrowed and must outlive the panel. `rows` fills every connection auto kill
// would test, the list's shown rows first (`shown` of them), and the local clock's hour; it may
// leave the rows empty (no counts are then shown). GUI thread only.
class RuleExplanationPanel : public QWidget {
    Q_OBJECT

  public:
    using RowSource = std::function<void(std::vector<SessionRow>& rows, size_t& shown, int& hour)>;

    static const QColor kErrorMark;
    static const QColor kWarningMark;

    static constexpr int kDebounceMs = 300;
    static constexpr int kRecountMs = 2000;

    RuleExplanationPanel(QPlainTextEdit* editor, RowSource rows, const UiLanguage& lang,
                         QWidget* parent = nullptr);
    ~RuleExplanationPanel() override;

    // Checks the editor's text and counts the rows now, without waiting for the timer.
    void Refresh();
    // Counts the rows again against the rules of the last check.
    void Recount();

    QPlainTextEdit* view() const { return view_; }
    QLabel* summary() const { return summary_; }
    QTimer* debounceTimer() const { return debounce_; }
    const RuleExplainer& explainer() const { return explainer_; }
    // Physical editor line (1-based) shown by panel line `index`, or 0.
    int EditorLineOf(int index) const;

  private:
    void Render();
    void OnViewCursor();

    QPlainTextEdit* editor_;
    RowSource rowSource_;
    UiLanguage lang_;
    RuleExplainer explainer_;
    std::vector<SessionRow> rows_;
    size_t shown_ = 0;
    QLabel* summary_ = nullptr;
    QPlainTextEdit* view_ = nullptr;
    QTimer* debounce_ = nullptr;
    QTimer* recount_ = nullptr;
    bool counted_ = false;
    bool rendering_ = false;
};

}  // namespace varnel
