#include "options/OptionsDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <algorithm>

#include "display/AppIcon.h"
#include "options/OptionsPage.h"

namespace varnel {

namespace {


// Per language, per group: the tree item's text, then the tab texts (empty: no tab).
constexpr const char* kLabels[2][OptionsDialog::kLabelsPerGroup] = {
    {"セッションモニター", "自動切断", "色設定", "", ""},
    {"Session Monitor", "Auto Kill Session", "Color", "", ""},
};

}  // namespace

OptionsDialog::OptionsDialog(SettingsFile& settings, UiLanguage lang, QWidget* parent)
    : QDialog(parent), settings_(settings), lang_(lang) {
    setWindowTitle(lang_.Pick("オプション設定", "Options"));
    setWindowIcon(AppIcon());

    auto* treeLabel = new QLabel(lang_.Pick("オプション項目", "Options"), this);
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(false);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // The item under the mouse is highlighted as the mouse moves over the tree.
    tree_->setMouseTracking(true);
    tree_->viewport()->setAttribute(Qt::WA_Hover);
    QPalette treeColours = tree_->palette();
    treeColours.setColor(QPalette::Text, QColor(0, 96, 0));
    treeColours.setColor(QPalette::Base, QColor(255, 255, 235));
    tree_->setPalette(treeColours);

    tabBar_ = new QTabBar(this);
    tabBar_->setFocusPolicy(Qt::NoFocus);
    tabBar_->setDrawBase(true);
    tabBar_->setExpanding(false);
    stack_ = new QStackedWidget(this);
    stack_->setFrameShape(QFrame::StyledPanel);
    blank_ = new QWidget(stack_);
    stack_->addWidget(blank_);

    languageLabel_ = new QLabel(lang_.Pick("Language: Japanese", "Language: English"), this);
    languageLabel_->setEnabled(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("OK");
    buttons->button(QDialogButtonBox::Cancel)->setText("Cancel");
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // Sizes in the dialog units of the original layout, converted by this font.
    const QFontMetrics fm(font());
    const auto unitX = [&fm](int units) { return units * fm.averageCharWidth() / 4; };
    const auto unitY = [&fm](int units) { return units * fm.height() / 8; };
    tree_->setFixedWidth(unitX(78));

    auto* grid = new QGridLayout(this);
    grid->addWidget(treeLabel, 0, 0);
    grid->addWidget(tree_, 1, 0, 2, 1);
    grid->addWidget(tabBar_, 0, 1);
    grid->addWidget(stack_, 1, 1, 2, 1);
    grid->addWidget(languageLabel_, 3, 0);
    grid->addWidget(buttons, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    grid->setHorizontalSpacing(unitX(2));
    grid->setVerticalSpacing(0);
    resize(unitX(lang_.IsJapanese() ? 346 : 438), unitY(lang_.IsJapanese() ? 235 : 236));

    // Rebuilt from the settings at every opening, so one tree item, data 0.
    auto* item =
        new QTreeWidgetItem(tree_, QStringList{QString::fromUtf8(kLabels[lang_.IsJapanese() ? 0 : 1][0])});
    item->setData(0, Qt::UserRole, 0);

    selection_ = settings_.Read(SettingsKeys::kConfigSel);
    tab_ = settings_.Read(SettingsKeys::kConfigTab);
    previousSelection_ = selection_;

    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &OptionsDialog::OnTreeSelection);
    connect(tabBar_, &QTabBar::currentChanged, this, &OptionsDialog::OnTabSelection);
    // The desktop session ending with the dialog open keeps the choice, and no page settings.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this] { WriteSelection(); });
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::AddPage(OptionsPage* page) {
    page->SetApplyFlag(false);
    stack_->addWidget(page);
    pages_.push_back(page);
    page->LoadSettings();
    // A page added while its tab is on screen replaces the blank.
    if (initialised_) ShowPage(shownPage_);
}

void OptionsDialog::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        SelectStoredItem();
    }
    QDialog::showEvent(event);
}

void OptionsDialog::SelectStoredItem() {
    // Step through the visible items "ConfigSel" times; running out selects nothing.
    QTreeWidgetItem* item = tree_->topLevelItem(0);
    for (int i = 0; item && i < selection_; ++i) item = tree_->itemBelow(item);
    if (!item || selection_ < 0) {
        ShowPage(-1);
        return;
    }
    tree_->setCurrentItem(item);
    item->setSelected(true);
}

void OptionsDialog::OnTreeSelection() {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    if (selected.isEmpty()) return;
    const int data = selected.front()->data(0, Qt::UserRole).toInt();
    if (data != previousSelection_) tab_ = 0;
    selection_ = previousSelection_ = data;

    filling_ = true;
    while (tabBar_->count() > 0) tabBar_->removeTab(0);
    const int language = lang_.IsJapanese() ? 0 : 1;
    for (int i = 1; i <= kMaxTabs && selection_ == 0; ++i) {
        const char* text = kLabels[language][i];
        if (*text) tabBar_->addTab(QString::fromUtf8(text));
    }
    tab_ = std::clamp(tab_, 0, std::max(0, tabBar_->count() - 1));
    tabBar_->setCurrentIndex(tab_);
    filling_ = false;
    ShowPage(tabBar_->count() > 0 ? selection_ * kLabelsPerGroup + tab_ : -1);
}

void OptionsDialog::OnTabSelection(int index) {
    if (filling_ || index < 0) return;
    tab_ = std::clamp(index, 0, tabBar_->count() - 1);
    ShowPage(selection_ * kLabelsPerGroup + tab_);
}

void OptionsDialog::ShowPage(int number) {
    shownPage_ = number;
    // Page numbers of group 0 are the tab indexes, which are the pages' places.
    const bool tabExists = number >= 0 && number < tabBar_->count();
    if (tabExists && number < int(pages_.size()))
        stack_->setCurrentWidget(pages_[size_t(number)]);
    else
        stack_->setCurrentWidget(blank_);
}

OptionsPage* OptionsDialog::currentPage() const {
    QWidget* shown = stack_->currentWidget();
    return shown == blank_ ? nullptr : static_cast<OptionsPage*>(shown);
}

void OptionsDialog::done(int result) {
    const bool ok = result == QDialog::Accepted;
    for (OptionsPage* page : pages_) page->SetApplyFlag(ok);
    const auto stayOpen = [this](size_t failed) {
        for (OptionsPage* other : pages_) other->SetApplyFlag(false);
        ShowFailedPage(static_cast<int>(failed));
    };
    for (size_t i = 0; ok && i < pages_.size(); ++i) {
        if (pages_[i]->Confirm()) continue;
        stayOpen(i);
        return;
    }
    // The close order: the dialog's own keys, then the pages from the last tab to the first, so
    // the rule file, the one store that can fail, comes last.
    WriteSelection();
    for (size_t i = pages_.size(); ok && i-- > 0;) {
        if (pages_[i]->Apply()) continue;
        stayOpen(i);
        return;
    }
    QDialog::done(result);
}

void OptionsDialog::ShowFailedPage(int index) {
    // The pages are the tabs of the first group.
    if (selection_ != 0 || tabBar_->count() == 0) {
        QTreeWidgetItem* item = tree_->topLevelItem(0);
        tree_->setCurrentItem(item);
        item->setSelected(true);
    }
    if (index < tabBar_->count()) tabBar_->setCurrentIndex(index);
}

void OptionsDialog::WriteSelection() {
    SettingsFile::Batch batch(settings_);
    batch.Set(SettingsKeys::kConfigSel, selection_);
    batch.Set(SettingsKeys::kConfigTab, tab_);
    batch.Commit();
}

}  // namespace varnel
