#pragma once

#include <QPlainTextEdit>
#include <cstdint>

namespace varnel {

class SettingsFile;

// The log pane: a read-only, multi-line text area whose whole client area, text and empty part
// alike, shows "Color_Text" on "Color_TextBk", matching the session list. Starts white on black;
// LoadColours reads the two keys. Read-only does not grey it. UI thread only.
class CColorEdit : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit CColorEdit(QWidget* parent = nullptr);

    // White on black, then "Color_TextBk" and "Color_Text" of section "Surveil" over them; repaints.
    void LoadColours(const SettingsFile& settings);

    uint32_t textColour() const { return textColour_; }
    uint32_t backgroundColour() const { return backgroundColour_; }

  private:
    void ApplyColours();

    uint32_t textColour_ = 0xFFFFFF;
    uint32_t backgroundColour_ = 0x000000;
};

}  // namespace varnel
