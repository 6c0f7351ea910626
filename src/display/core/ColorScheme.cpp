#include "display/core/ColorScheme.h"

#include "settings/SettingsFile.h"
#include "display/core/DomainClass.h"

namespace varnel {

namespace {

// #RRGGBB as 0x00BBGGRR.
constexpr uint32_t Rgb(uint32_t rrggbb) {
    return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16);
}

const ColorItem kItems[ColorScheme::kItemCount] = {
    {"Color_TextBk", "Background color", "背景", Rgb(0x000000)},
    {"Color_Text", "Normal Text color", "通常テキスト", Rgb(0xFFFFFF)},
    {"Color_ip_addr", "IP Address color", "IPアドレス", Rgb(0xFFFF80)},
    {"Color_proto_ul", "Protocol: Send / status: Waiting", "プロトコル：送信／通信状態：接続待ち", Rgb(0xFF4040)},
    {"Color_proto_dl", "Protocol: Received / status: Connecting", "プロトコル：受信／通信状態：接続中",
     Rgb(0x80FF80)},
    {"Color_ne_jp", "Network Services (ne.jp)", "ネットワークサービス(ne.jp)", Rgb(0x8787FF)},
    {"Color_or_jp", "non-corporate company (or.jp)", "会社以外の法人(or.jp)", Rgb(0x8787FF)},
    {"Color_ad_jp", "JPNIC members (ad.jp)", "JPNIC会員(ad.jp)", Rgb(0x8787FF)},
    {"Color_gr_jp", "voluntary organization (gr.jp)", "任意団体(gr.jp)", Rgb(0x8787FF)},
    {"Color_ed_jp", "miscellaneous schools (ed.jp)", "各種学校(ed.jp)", Rgb(0xFF80FF)},
    {"Color_ac_jp", "institutions such as universities (ac.jp)", "大学等教育機関(ac.jp)", Rgb(0xFF80FF)},
    {"Color_co_jp", "General Company (co.jp)", "一般企業(co.jp)", Rgb(0xFF80FF)},
    {"Color_go_jp", "Government of Japan (go.jp)", "日本国政府機関(go.jp)", Rgb(0xFF80FF)},
    {"Color_lg_jp", "Local governments (lg.jp)", "地方公共団体(lg.jp)", Rgb(0xFF80FF)},
    {"Color_def_jp", "Other (.jp)", "その他(.jp)", Rgb(0xFFAF60)},
    {"Color_com", "Commercial (.com)", "商業組織(.com)", Rgb(0xFF4040)},
    {"Color_net", "network (.net)", "ネットワーク(.net)", Rgb(0xFF4040)},
    {"Color_org", "other organizations (.org)", "その他組織(.org)", Rgb(0xFF4040)},
    {"Color_edu", "4 year colleges (.edu)", "４年生大学(.edu)", Rgb(0xFF4040)},
    {"Color_gov", "Federal Government (.gov)", "米国連邦政府機関(.gov)", Rgb(0xFF4040)},
    {"Color_mil", "U.S. Military (.mil)", "米国軍事機関(.mil)", Rgb(0xFF4040)},
    {"Color_int", "international organizations (.int)", "国際機関(.int)", Rgb(0xFF4040)},
    {"Color_biz", "for business (.biz)", "ビジネス用(.biz)", Rgb(0xFF4040)},
    {"Color_info", "General (.info)", "汎用(.info)", Rgb(0xFF4040)},
    {"Color_name", "Personal (.name)", "個人用(.name)", Rgb(0xFF4040)},
    {"Color_pro", "for professional (.pro)", "プロフェッショナル用(.pro)", Rgb(0xFF4040)},
    {"Color_museum", "for the museum (.museum)", "博物館用(.museum)", Rgb(0xFF4040)},
    {"Color_aero", "related to air transport companies, organizations (.aero)",
     "航空運輸に関係する企業、組織(.aero)", Rgb(0xFF4040)},
    {"Color_coop", "Cooperative for life (.coop)", "生活共同組合用(.coop)", Rgb(0xFF4040)},
    {"Color_jobs", "Human Resources for official business (.jobs)", "人事管理業務関係者用(.jobs)",
     Rgb(0xFF4040)},
    {"Color_travel", "for the travel industry (.travel)", "旅行関連業界用(.travel)", Rgb(0xFF4040)},
    {"Color_mobi", "for mobile relationship (.mobi)", "モバイル関係用(.mobi)", Rgb(0xFF4040)},
    {"Color_cat", "Catalan language / culture for the community (.cat)",
     "カタロニアの言語／文化コミュニティ用(.cat)", Rgb(0xFF4040)},
    {"Color_tel", "IP-based telephone number for (.tel)", "IPベースの電話番号用(.tel)", Rgb(0xFF4040)},
    {"Color_asia", "Asia-Pacific region companies (.asia)", "アジア太平洋地域の企業／個人／団体等用(.asia)",
     Rgb(0xFF4040)},
    {"Color_post", "for official postal (.post)", "郵便事業関係者用(.post)", Rgb(0xFF4040)},
    {"Color_default", "Other Domain", "その他のドメイン", Rgb(0xFFFFFF)},
};

bool InRange(int index) { return index >= 0 && index < ColorScheme::kItemCount; }

}  // namespace

ColorScheme::ColorScheme() {
    for (int i = 0; i < kItemCount; ++i) colours_[static_cast<size_t>(i)] = kItems[i].defaultColour;
}

const ColorItem& ColorScheme::Item(int index) { return kItems[InRange(index) ? index : kDefault]; }

uint32_t ColorScheme::colour(int index) const {
    return colours_[static_cast<size_t>(InRange(index) ? index : kDefault)];
}

void ColorScheme::setColour(int index, uint32_t c) {
    if (InRange(index)) colours_[static_cast<size_t>(index)] = c;
}

void ColorScheme::Load(const SettingsFile& s) {
    Load(s, kItems[kTextBk].defaultColour, kItems[kText].defaultColour);
}

void ColorScheme::Load(const SettingsFile& s, uint32_t textBkDefault, uint32_t textDefault) {
    for (int i = 0; i < kItemCount; ++i) {
        uint32_t def = kItems[i].defaultColour;
        if (i == kTextBk) def = textBkDefault;
        if (i == kText) def = textDefault;
        // The file holds the signed decimal text of the 32-bit value; the bits are kept as they are.
        const int value = s.ReadInt(kSection, kItems[i].key, static_cast<int>(def));
        colours_[static_cast<size_t>(i)] = static_cast<uint32_t>(value);
    }
}

void ColorScheme::Save(SettingsFile& s) const {
    SettingsFile::Batch batch(s);
    for (int i = 0; i < kItemCount; ++i)
        batch.SetInt(kSection, kItems[i].key, static_cast<int>(colours_[static_cast<size_t>(i)]));
    batch.Commit();
}

uint32_t ColorScheme::StatusColour(std::string_view text) const {
    const bool established = text.find("接続中") != std::string_view::npos ||
                             text.find("Connecting") != std::string_view::npos;
    return colour(established ? kProtoDl : kProtoUl);
}

ColorScheme::CellColours ColorScheme::CellColour(int column, std::string_view text, bool highlighted,
                                                 uint32_t selectedText, uint32_t selection) const {
    if (highlighted) return {selectedText, selection};
    uint32_t textColour = colour(kText);
    if (column == 0 || column == 1 || column == 3 || column == 4)
        textColour = colour(DomainClass::Classify(text));
    else if (column == kStatusColumn)
        textColour = StatusColour(text);
    return {textColour, colour(kTextBk)};
}

}  // namespace varnel
