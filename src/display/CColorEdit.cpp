#include "display/CColorEdit.h"

#include <QPalette>

#include "settings/SettingsFile.h"
#include "display/ColourRef.h"
#include "display/core/ColorScheme.h"

namespace varnel {

CColorEdit::CColorEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ApplyColours();
}

void CColorEdit::LoadColours(const SettingsFile& settings) {
    textColour_ = 0xFFFFFF;
    backgroundColour_ = 0x000000;
    const char* section = ColorScheme::kSection;
    backgroundColour_ = static_cast<uint32_t>(settings.ReadInt(
        section, ColorScheme::Item(ColorScheme::kTextBk).key, static_cast<int>(backgroundColour_)));
    textColour_ = static_cast<uint32_t>(
        settings.ReadInt(section, ColorScheme::Item(ColorScheme::kText).key, static_cast<int>(textColour_)));
    ApplyColours();
}

void CColorEdit::ApplyColours() { ApplyViewportColours(*this, backgroundColour_, textColour_); }

}  // namespace varnel
