#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace varnel {

class SettingsFile;

// One colour item of the scheme: its key in section "Surveil", its names in both languages and its
// default colour. Colours are 0x00BBGGRR (red in the low byte).
struct ColorItem {
    const char* key;
    const char* nameEn;
    const char* nameJp;
    uint32_t defaultColour;
};

// The 37 colours the session list and the log pane paint with, kept in the settings file, section
// "Surveil", one signed decimal integer per item. There is no shared instance: each consumer owns a
// copy and loads it when it needs it. A present key is used as it is (any 32-bit value); an absent
// one gives the default the consumer passes.
//
// Plain value type, no locking; a copy belongs to the thread of its consumer.
class ColorScheme {
public:
    static constexpr int kItemCount = 37;
    static constexpr const char* kSection = "Surveil";

    // Item indexes, in table order (also the order of the rows of the colour options page).
    enum Index {
        kTextBk = 0,
        kText = 1,
        kIpAddr = 2,
        kProtoUl = 3,  // Status of every state except the established one
        kProtoDl = 4,  // Status of the established state
        kNeJp = 5,
        kOrJp,
        kAdJp,
        kGrJp,
        kEdJp,
        kAcJp,
        kCoJp,
        kGoJp,
        kLgJp,
        kDefJp = 14,
        kCom = 15,
        kNet,
        kOrg,
        kEdu,
        kGov,
        kMil,
        kInt,
        kBiz,
        kInfo,
        kName,
        kPro,
        kMuseum,
        kAero,
        kCoop,
        kJobs,
        kTravel,
        kMobi,
        kCat,
        kTel,
        kAsia,
        kPost = 35,
        kDefault = 36,
    };

    // Session-list columns with a colour rule of their own.
    static constexpr int kStatusColumn = 6;

    // Every item at its default.
    ColorScheme();

    // The item at `index` (0..kItemCount-1); out-of-range indexes give the "Other Domain" item.
    static const ColorItem& Item(int index);

    uint32_t colour(int index) const;
    void setColour(int index, uint32_t c);  // ignored for an index out of range

    // Reads all 37 keys, each with the table's default.
    void Load(const SettingsFile& s);
    // The same, but "Color_TextBk" and "Color_Text" default to the given colours.
    void Load(const SettingsFile& s, uint32_t textBkDefault, uint32_t textDefault);
    // Writes all 37 keys as signed decimal text. Failed writes are not reported (the file keeps
    // its old value for that key).
    void Save(SettingsFile& s) const;

    struct CellColours {
        uint32_t text;  // also the frame of a Status cell
        uint32_t background;
    };
    // The colours of one session-list cell: columns 0, 1, 3 and 4 by the domain class of their text,
    // the Status column by whether its text names the established state ("Connecting" / "接続中"),
    // the rest in "Color_Text"; background "Color_TextBk". A highlighted cell uses the two given
    // system colours instead.
    CellColours CellColour(int column, std::string_view text, bool highlighted, uint32_t selectedText,
                           uint32_t selection) const;

    // The status colour of a Status cell text.
    uint32_t StatusColour(std::string_view text) const;

    bool operator==(const ColorScheme&) const = default;

private:
    std::array<uint32_t, kItemCount> colours_{};
};

}  // namespace varnel
