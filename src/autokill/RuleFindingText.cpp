#include "autokill/RuleFindingText.h"

#include <utility>

namespace varnel {

namespace {

// The report's fixed words, longest first where one holds another.
constexpr std::pair<std::string_view, std::string_view> kWords[] = {
    {"ignored: no keyword", "無視: キーワードがありません"},
    {"reading stopped: at most ", "読み込みを止めました: 読むのは最大 "},
    {" rule lines are read; this line and the rest are ignored", " 行までで、この行から後は無視されます"},
    {"error: ", "エラー: "},
    {" ignored: keywords are upper case", " は無視されます: キーワードは大文字です"},
    {" ignored: no such keyword", " は無視されます: そのようなキーワードはありません"},
    {" is not a number (reads as ", " は数値ではありません (読み取り値 "},
    {" is not a port number or range (reads as ", " はポート番号でも範囲でもありません (読み取り値 "},
    {" is outside the ports 0-65535 (reads as ", " はポート 0-65535 の範囲外です (読み取り値 "},
    {" is not an hour or hour window (", " は時刻でも時間帯でもありません ("},
    {" is outside the hours 0-23 (", " は 0-23 時の範囲外です ("},
    {"reads as ", "読み取り値 "},
    {" became ", " は次になりました: "},
    {" is empty: no condition", " が空です: 条件になりません"},
    {" times: only the last counts", " 回指定されています: 最後のものだけが有効です"},
    {" given ", " が "},
    {" never matches: connections of IPv4-mapped addresses are shown as IPv4",
     " は一致しません: IPv4 射影アドレスの接続は IPv4 として表示されます"},
    {" never matches: IPv6 addresses are shown in canonical form",
     " は一致しません: IPv6 アドレスは正規形で表示されます"},
    {" is no network: a '/' asks for an address containing ",
     " はネットワークではありません: '/' は次を含むアドレスを探します: "},
    {", which none does", " (そのようなアドレスはありません)"},
    {" also matches ", " は次にも一致します: "},
    {"; write ", "。次のように書いてください: "},
    {" names every state: the rule never matches", " はすべての状態を指します: このルールは一致しません"},
    {"no condition a session can fail", "どの接続も外れることのない条件"},
    {": exempts every session from the rules after it", ": 後のルールからすべての接続を除外します"},
    {": matches every session", ": すべての接続に一致します"},
    {"no conditions", "条件なし"},
    {"no condition", "条件なし"},
};

std::string Translate(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        bool replaced = false;
        for (const auto& [english, japanese] : kWords) {
            if (text.compare(i, english.size(), english) == 0) {
                out += japanese;
                i += english.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

}  // namespace

std::string RuleFindingText::ForLanguage(std::string_view line, const UiLanguage& lang) {
    if (!lang.IsJapanese()) return std::string(line);
    // Only the findings are words of ours: the rule before them is the user's text.
    constexpr std::string_view kSeparator = "  # ";
    if (line.starts_with("ignored: ") || line.starts_with("reading stopped: ")) return Translate(line);
    const size_t at = line.find(kSeparator);
    if (at == std::string_view::npos) return std::string(line);
    return std::string(line.substr(0, at + kSeparator.size())) +
           Translate(line.substr(at + kSeparator.size()));
}

}  // namespace varnel
