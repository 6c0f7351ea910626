#include "options/ColorOptionsPage.h"

#include <QApplication>
#include <QColorDialog>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>

#include "display/CListCtrlEx2.h"
#include "display/ColourRef.h"

namespace varnel {

namespace {

std::optional<uint32_t> ChooseWithDialog(QWidget* parent, uint32_t current) {
    const QColor c = QColorDialog::getColor(ToQColor(current), parent);
    if (!c.isValid()) return std::nullopt;
    return ToColourRef(c);
}

bool AskYesNo(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

// Dialog units of the page's font to pixels.
QRect DialogRect(const QFontMetrics& fm, int x, int y, int w, int h) {
    const int bx = std::max(1, fm.averageCharWidth()), by = std::max(1, fm.height());
    return QRect(x * bx / 4, y * by / 8, w * bx / 4, h * by / 8);
}

}  // namespace

ColorOptionsPage::ColorOptionsPage(SettingsFile& settings, const UiLanguage& lang, bool newerPlatform,
                                   QWidget* parent)
    : OptionsPage(parent),
      settings_(settings),
      lang_(lang),
      list_(new CListCtrlEx2(this)),
      defaultButton_(new QPushButton(this)),
      chooser_(ChooseWithDialog),
      question_(AskYesNo) {
    const bool jp = lang_.IsJapanese();
    const QFontMetrics fm(font());
    resize(DialogRect(fm, 0, 0, jp ? 289 : 311, 220).size());
    list_->setGeometry(DialogRect(fm, 4, 8, jp ? 244 : 298, 152));
    defaultButton_->setGeometry(DialogRect(fm, 8, 166, 50, 14));
    defaultButton_->setText(QString::fromUtf8(lang_.Pick("デフォルト色", "Default Color")));
    // The laid-out width is for the original font; a wider one must not cut the caption.
    if (defaultButton_->sizeHint().width() > defaultButton_->width())
        defaultButton_->resize(defaultButton_->sizeHint().width(), defaultButton_->height());
    defaultButton_->setAutoDefault(false);

    if (newerPlatform) PaintWhite();

    list_->SetColumns({QString::fromUtf8(lang_.Pick("カラー", "Color")),
                       QString::fromUtf8(lang_.Pick("項目名", "Item Name"))},
                      {100, 300});
    // The system window colour behind window text, before the list captures its colours.
    const QPalette system = QApplication::palette();
    list_->SetBkColor(ToColourRef(system.color(QPalette::Base)));
    list_->SetTextBkColor(ToColourRef(system.color(QPalette::Base)));
    list_->SetTextColor(ToColourRef(system.color(QPalette::Text)));
    list_->SetUp();

    connect(list_, &QAbstractItemView::doubleClicked, this, [this] { EditSelected(); });
    connect(defaultButton_, &QPushButton::clicked, this, [this] { RestoreDefaults(); });
}

ColorOptionsPage::~ColorOptionsPage() = default;

QString ColorOptionsPage::Title() const {
    return QString::fromUtf8(lang_.Pick("色設定", "Color"));
}

QString ColorOptionsPage::DefaultQuestion() const {
    return QString::fromUtf8(lang_.Pick("設定をデフォルトに戻します.\nよろしいですか？",
                                        "Back to the default settings. \nAre you sure?"));
}

QString ColorOptionsPage::ItemName(int index) const {
    const ColorItem& item = ColorScheme::Item(index);
    return QString::fromUtf8(lang_.Pick(item.nameJp, item.nameEn));
}

void ColorOptionsPage::LoadSettings() {
    scheme_ = ColorScheme();
    scheme_.Load(settings_);
    FillList();
}

bool ColorOptionsPage::Apply() {
    if (!applyFlag()) return true;
    scheme_.Save(settings_);
    return true;
}

void ColorOptionsPage::EditSelected() {
    const int row = list_->SelectedRow();
    if (row >= 0 && row < ColorScheme::kItemCount) {
        if (const std::optional<uint32_t> chosen = chooser_(this, scheme_.colour(row))) {
            scheme_.setColour(row, *chosen);
            FillList();
            list_->selectRow(row);
        }
    }
    update();
}

void ColorOptionsPage::RestoreDefaults() {
    if (question_(this, DefaultQuestion())) {
        scheme_ = ColorScheme();
        FillList();
    }
    update();
}

void ColorOptionsPage::FillList() {
    const int lastVisible = list_->LastVisibleRow();
    list_->setUpdatesEnabled(false);
    list_->DeleteAllItems();
    // From the last item to the first, each at the top, so the rows end up in item order.
    for (int i = ColorScheme::kItemCount - 1; i >= 0; --i)
        list_->InsertItem(
            0, {QString::number(static_cast<int32_t>(scheme_.colour(i))) + QLatin1Char('%'), ItemName(i)});
    list_->setUpdatesEnabled(true);
    list_->EnsureVisible(lastVisible);
    list_->viewport()->update();
}

}  // namespace varnel
