#include "options/RuleExplanationPanel.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

namespace varnel {

namespace {

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

const QColor RuleExplanationPanel::kErrorMark(255, 190, 190);
const QColor RuleExplanationPanel::kWarningMark(255, 240, 190);

RuleExplanationPanel::RuleExplanationPanel(QPlainTextEdit* editor, RowSource rows, const UiLanguage& lang,
                                           QWidget* parent)
    : QWidget(parent), editor_(editor), rowSource_(std::move(rows)), lang_(lang), explainer_(lang) {
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    view_ = new QPlainTextEdit(this);
    view_->setReadOnly(true);
    view_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setUndoRedoEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(summary_);
    layout->addWidget(view_, 1);

    debounce_ = new QTimer(this);
    debounce_->setSingleShot(true);
    debounce_->setInterval(kDebounceMs);
    connect(debounce_, &QTimer::timeout, this, &RuleExplanationPanel::Refresh);
    connect(editor_, &QPlainTextEdit::textChanged, debounce_, qOverload<>(&QTimer::start));
    recount_ = new QTimer(this);
    recount_->setInterval(kRecountMs);
    connect(recount_, &QTimer::timeout, this, &RuleExplanationPanel::Recount);
    recount_->start();
    connect(view_, &QPlainTextEdit::cursorPositionChanged, this, &RuleExplanationPanel::OnViewCursor);
}

RuleExplanationPanel::~RuleExplanationPanel() = default;

void RuleExplanationPanel::Refresh() {
    debounce_->stop();
    explainer_.Check(editor_->toPlainText().toStdString());
    Recount();
}

void RuleExplanationPanel::Recount() {
    rows_.clear();
    shown_ = 0;
    int hour = 0;
    if (rowSource_) rowSource_(rows_, shown_, hour);
    counted_ = !rows_.empty();
    explainer_.Count(rows_, hour, shown_);
    Render();
}

int RuleExplanationPanel::EditorLineOf(int index) const {
    const auto& lines = explainer_.lines();
    return index >= 0 && size_t(index) < lines.size() ? lines[size_t(index)].lineNumber : 0;
}

void RuleExplanationPanel::Render() {
    const auto& lines = explainer_.lines();
    const bool jp = lang_.IsJapanese();
    // Connections the list does not show get a column of their own, only when there are some.
    const bool notShown = counted_ && explainer_.rowsNotShown() > 0;
    const QString notShownText = QString::fromUtf8(lang_.Pick(" (+%1 非表示)", " (+%1 not shown)"));
    // Characters of that column; shown as blanks it is wider by the Japanese word's three
    // double-width characters.
    const qsizetype notShownChars = notShownText.arg(9999).size();
    const qsizetype notShownWidth = notShownChars + (jp ? 3 : 0);
    QString text;
    text.reserve(qsizetype(lines.size()) * 48);
    for (size_t i = 0; i < lines.size(); ++i) {
        const RuleExplainer::Line& line = lines[i];
        if (i != 0) text += QLatin1Char('\n');
        // The count comes first, in a column of its own: a line's findings can be long.
        if (counted_) {
            if (line.rule != 0) {
                const QString label = QString::fromUtf8(line.allow ? lang_.Pick("除外", "spares")
                                                                   : lang_.Pick("切断", "cuts"));
                text += (jp ? label : label.leftJustified(6)) + QLatin1Char(' ') +
                        QString::number(line.matches).rightJustified(4);
                if (notShown && line.matchesNotShown > 0)
                    text += notShownText.arg(line.matchesNotShown).leftJustified(notShownChars);
                else if (notShown)
                    text += QString(notShownWidth, QLatin1Char(' '));
                text += QLatin1String("  ");
            } else {
                // As wide as the column: a Japanese label is two double-width characters.
                text += QString((jp ? 11 : 13) + (notShown ? notShownWidth : 0), QLatin1Char(' '));
            }
        }
        text += QString::number(line.lineNumber) + QLatin1String(": ") + Utf8(line.text);
    }
    QString summary =
        QString::fromUtf8(lang_.Pick("ルール %1 件", "%1 rules")).arg(explainer_.ruleCount());
    if (notShown) {
        summary += QString::fromUtf8(lang_.Pick("。表示中の接続 %1 件 (+非表示 %4 件) のうち 切断 %2 件 (+非表示 %5 件)、"
                                                "除外 %3 件 (+非表示 %6 件)",
                                                "; of the %1 connections shown (+%4 not shown), %2 would be cut "
                                                "(+%5 not shown), %3 spared (+%6 not shown)"))
                       .arg(explainer_.rowsCounted())
                       .arg(explainer_.cut())
                       .arg(explainer_.spared())
                       .arg(explainer_.rowsNotShown())
                       .arg(explainer_.cutNotShown())
                       .arg(explainer_.sparedNotShown());
    } else if (counted_) {
        summary += QString::fromUtf8(lang_.Pick("。表示中の接続 %1 件のうち 切断 %2 件、除外 %3 件",
                                                "; of the %1 connections shown, %2 would be cut, %3 spared"))
                       .arg(explainer_.rowsCounted())
                       .arg(explainer_.cut())
                       .arg(explainer_.spared());
    }
    if (counted_) {
        if (explainer_.held() > 0)
            summary += QString::fromUtf8(lang_.Pick("、ホスト名待ち %1 件", ", %1 wait for a host name"))
                           .arg(explainer_.held());
    } else {
        summary += QString::fromUtf8(lang_.Pick("(表示中の接続はありません)", " (no connections shown)"));
    }
    summary_->setText(summary);

    // Rewriting an unchanged text would move the reader's scroll position for nothing.
    if (text == view_->toPlainText()) return;
    rendering_ = true;
    const int scroll = view_->verticalScrollBar()->value();
    const int column = view_->horizontalScrollBar()->value();
    view_->setPlainText(text);
    QList<QTextEdit::ExtraSelection> marks;
    // Light marks under black text, whatever the palette's text colour.
    QTextCharFormat warned;
    warned.setBackground(kWarningMark);
    warned.setForeground(QColor(Qt::black));
    warned.setProperty(QTextFormat::FullWidthSelection, true);
    QTextCharFormat error = warned;
    error.setBackground(kErrorMark);
    QTextBlock block = view_->document()->firstBlock();
    for (size_t i = 0; i < lines.size() && block.isValid(); ++i, block = block.next()) {
        if (!lines[i].warned && !lines[i].error) continue;
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(block);
        mark.format = lines[i].error ? error : warned;
        marks.append(mark);
    }
    view_->setExtraSelections(marks);
    view_->verticalScrollBar()->setValue(scroll);
    view_->horizontalScrollBar()->setValue(column);
    rendering_ = false;
}

void RuleExplanationPanel::OnViewCursor() {
    if (rendering_) return;
    const int line = EditorLineOf(view_->textCursor().blockNumber());
    if (line <= 0) return;
    const QTextBlock target = editor_->document()->findBlockByNumber(line - 1);
    if (!target.isValid()) return;
    editor_->setTextCursor(QTextCursor(target));
    editor_->centerCursor();
    // The editor shows no cursor while the panel has the focus: mark the line instead.
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(target);
    const QColor background = editor_->palette().color(QPalette::Highlight).lighter(170);
    mark.format.setBackground(background);
    mark.format.setForeground(qGray(background.rgb()) < 128 ? QColor(Qt::white) : QColor(Qt::black));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    editor_->setExtraSelections({mark});
}

}  // namespace varnel
